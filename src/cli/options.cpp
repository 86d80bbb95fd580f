#include "cli/options.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <system_error>
#include <utility>

namespace imgpack {
namespace {

constexpr std::string_view error_prefix = "imgpack: IMGPACK_OPTIONS: ";
constexpr std::string_view blanks = " \t\n\r";

// The options by their place in known_options.
enum class Option : std::uint8_t { strict, fill, start, end, crc32, map };
static_assert(known_options[static_cast<std::size_t>(Option::crc32)] == "--crc32" &&
              known_options.size() == static_cast<std::size_t>(Option::map) + 1);

// The values an option with a value accepts, and how its messages name them.
struct ValueRule {
    std::string_view placeholder; // in `--fill=BYTE`
    std::string_view noun;        // "is not a byte"
    std::uint64_t low;
    std::uint64_t high;
    std::string_view bounds; // low and high as the message shows them
};

std::optional<ValueRule> value_rule(Option option) {
    switch (option) {
    case Option::fill:
        return ValueRule{"BYTE", "a byte", 0, 0xFF, "0 to 0xFF"};
    case Option::start:
        return ValueRule{"ADDR", "an address", 0, 0xFFFFFFFF, "0 to 0xFFFFFFFF"};
    case Option::end:
        return ValueRule{"ADDR", "an address", 1, 0x100000000, "1 to 0x100000000"};
    case Option::crc32:
        return ValueRule{"ADDR", "an address", 0, 0xFFFFFFFC, "0 to 0xFFFFFFFC"};
    case Option::strict:
    case Option::map:
        break;
    }
    return std::nullopt;
}

std::optional<Option> find_option(std::string_view name) {
    const auto* const found = std::find(known_options.begin(), known_options.end(), name);
    if (found == known_options.end()) {
        return std::nullopt;
    }
    return static_cast<Option>(found - known_options.begin());
}

// A message from its pieces. Appending, rather than `"text" + std::string`,
// also keeps g++ 12's false -Wrestrict alarm on that form out of -O3 builds.
std::string join(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) {
        text += piece;
    }
    return text;
}

std::string known_list() {
    std::string list = "(known:";
    for (const std::string_view name : known_options) {
        list += ' ';
        list += name;
    }
    return list + ')';
}

// Decimal, or hexadecimal after 0x or 0X, and nothing else: no sign, no
// blank, no suffix. A leading 0 does not mean octal. Too large a value for
// 64 bits fails as any malformed one does.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const char* const last = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), last, value, base);
    if (error != std::errc{} || stop != last) {
        return std::nullopt;
    }
    return value;
}

// 0x and at least eight upper-case hexadecimal digits, as the trace prints
// addresses.
std::string hex(std::uint64_t value) {
    std::array<char, 16> digits{};
    const auto result = std::to_chars(digits.begin(), digits.end(), value, 16);
    std::string text(digits.begin(), result.ptr);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    return join({"0x", std::string(8 - std::min<std::size_t>(8, text.size()), '0'), text});
}

// The blank-separated words of the text, one at a time.
class Words {
  public:
    explicit Words(std::string_view text) : rest_(text) {}

    std::optional<std::string_view> next() {
        auto word = peek();
        if (word) {
            rest_.remove_prefix(rest_.find_first_not_of(blanks) + word->size());
        }
        return word;
    }

    [[nodiscard]] std::optional<std::string_view> peek() const {
        const std::size_t first = rest_.find_first_not_of(blanks);
        if (first == std::string_view::npos) {
            return std::nullopt;
        }
        return rest_.substr(first, rest_.find_first_of(blanks, first) - first);
    }

  private:
    std::string_view rest_;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : words_(text) {}

    // The options, or the message of the first mistake (without its prefix).
    std::optional<std::string> run() {
        while (const auto word = words_.next()) {
            options_.any = true;
            if (auto mistake = take(*word)) {
                return mistake;
            }
        }
        return check_together();
    }

    [[nodiscard]] const Options& options() const { return options_; }

  private:
    // One option word, with the next word as its value where it takes one
    // and has none after `=`.
    std::optional<std::string> take(std::string_view word) {
        if (!word.starts_with("--")) {
            return join({"'", word, "' is not an option ", known_list()});
        }
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        const auto option = find_option(name);
        if (!option) {
            return join({"unknown option '", name, "' ", known_list()});
        }
        if (std::exchange(seen_.at(static_cast<std::size_t>(*option)), true)) {
            return join({name, ": given twice"});
        }
        std::optional<std::string_view> value;
        if (equals != std::string_view::npos) {
            value = word.substr(equals + 1);
        }
        const auto rule = value_rule(*option);
        if (!rule) {
            if (value) {
                return join({name, ": takes no value, got '", *value, "'"});
            }
            set_flag(*option);
            return std::nullopt;
        }
        if (!value) {
            value = next_value();
        }
        return take_value(name, *option, *rule, value.value_or(""));
    }

    // The next word as the value of `--name VALUE`, unless it is an option.
    std::optional<std::string_view> next_value() {
        const auto after = words_.peek();
        return after && !after->starts_with("--") ? words_.next() : std::nullopt;
    }

    std::optional<std::string> take_value(std::string_view name, Option option,
                                          const ValueRule& rule, std::string_view value) {
        if (value.empty()) {
            return join({name, ": needs a value (", name, "=", rule.placeholder, ")"});
        }
        const auto number = parse_number(value);
        if (!number || *number < rule.low || *number > rule.high) {
            return join({name, ": '", value, "' is not ", rule.noun, " (", rule.bounds, ")"});
        }
        set_value(option, *number);
        return std::nullopt;
    }

    void set_flag(Option option) {
        (option == Option::strict ? options_.strict : options_.map) = true;
    }

    void set_value(Option option, std::uint64_t value) {
        switch (option) {
        case Option::fill:
            options_.fill = static_cast<std::uint8_t>(value);
            break;
        case Option::start:
            options_.start = value;
            break;
        case Option::end:
            options_.end = value;
            break;
        case Option::crc32:
            options_.crc32 = value;
            break;
        case Option::strict:
        case Option::map:
            break;
        }
    }

    // What only the options together say: a window that is not empty, and a
    // CRC whose four bytes lie inside it when both of its ends are given.
    [[nodiscard]] std::optional<std::string> check_together() const {
        const auto& start = options_.start;
        const auto& end = options_.end;
        const auto& crc = options_.crc32;
        if (!start || !end) {
            return std::nullopt;
        }
        if (*end <= *start) {
            return join({"--end: ", hex(*end), " is not above --start ", hex(*start)});
        }
        if (crc && (*crc < *start || *crc + 4 > *end)) {
            return join({"--crc32: ", hex(*crc), "..", hex(*crc + 3), " is not inside the image ",
                         hex(*start), "..", hex(*end - 1)});
        }
        return std::nullopt;
    }

    Words words_;
    Options options_;
    std::array<bool, known_options.size()> seen_{};
};

} // namespace

ParsedOptions parse_options(std::string_view text) {
    Parser parser(text);
    if (auto mistake = parser.run()) {
        return {std::nullopt, join({error_prefix, *mistake})};
    }
    return {parser.options(), {}};
}

} // namespace imgpack

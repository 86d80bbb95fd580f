#include "srec/reader.hpp"

#include "srec/hex.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstdio>
#include <initializer_list>

namespace imgpack {

namespace {

constexpr std::size_t type_position = 1;
constexpr std::size_t count_position = 2;
constexpr std::size_t address_position = 4;

// Decodes a data record with `AddressBytes` address bytes from `text`, every
// character of which may be read. Fails when a field runs past the end.
template <std::size_t AddressBytes>
[[gnu::always_inline]] inline int
decode_data_record(std::string_view text, RecordKind& kind, std::int32_t& address,
                   std::int32_t& data_length, std::span<std::uint8_t> data) {
    constexpr std::size_t data_position = address_position + 2 * AddressBytes;
    if (data_position > text.size()) {
        return srec_failed; // the count or address field runs past the line
    }
    const auto count = static_cast<std::int32_t>(hex_value<1>(text.data() + count_position));
    const std::int32_t length = count - static_cast<std::int32_t>(AddressBytes) - 1;
    if (length > 0 && data_position + 2 * static_cast<std::size_t>(length) > text.size()) {
        return srec_failed; // the data bytes run past the line
    }
    // The bound above keeps length at most 124, well inside the data array.
    if (length > 0 && !data.empty()) {
        assert(data.size() >= static_cast<std::size_t>(length));
        const auto bytes = static_cast<std::size_t>(length);
        hex_bytes({text.data() + data_position, 2 * bytes}, data.first(bytes));
    }
    kind = RecordKind::data;
    address = static_cast<std::int32_t>(hex_value<AddressBytes>(text.data() + address_position));
    data_length = length;
    return srec_decoded;
}

// Decodes a record from `text`, every character of which may be read.
// Fails when the record is not one this reader accepts or when one of its
// fields runs past the end of `text`.
[[gnu::always_inline]] inline int decode_fields(std::string_view text, RecordKind& kind,
                                                std::int32_t& address, std::int32_t& data_length,
                                                std::span<std::uint8_t> data) {
    if (text.size() <= type_position || text[0] != 'S') {
        return srec_failed;
    }
    switch (text[type_position]) {
    case '0':
        kind = RecordKind::header;
        return srec_decoded;
    case '1':
        return decode_data_record<2>(text, kind, address, data_length, data);
    case '2':
        return decode_data_record<3>(text, kind, address, data_length, data);
    case '3':
        return decode_data_record<4>(text, kind, address, data_length, data);
    case '7':
    case '8':
    case '9':
        kind = RecordKind::termination;
        return srec_decoded;
    default: // '4' to '6' (count records among them) and anything else
        return srec_failed;
    }
}

// The exact decoding of a line that did not decode where it stands: with its
// line feed and terminating zero written out after it.
[[gnu::noinline]] int decode_terminated(const RawLine& raw, RecordKind& kind, std::int32_t& address,
                                        std::int32_t& data_length, std::span<std::uint8_t> data) {
    std::array<char, line_buffer_size> line; // NOLINT: copy_terminated writes the used part
    const std::size_t length = raw.copy_terminated(line);
    return decode_fields({line.data(), length + 1}, kind, address, data_length, data);
}

// Decodes one line as the default reader does.
[[gnu::always_inline]] inline int decode_line(const RawLine& raw, RecordKind& kind,
                                              std::int32_t& address, std::int32_t& data_length,
                                              std::span<std::uint8_t> data) {
    // Nearly every record lies wholly before its line end: decode it where it
    // stands. Only a line that fails that way needs its line feed and
    // terminating zero, which may take part in a field, spelled out.
    if (decode_fields({raw.text, raw.chars_before_feed}, kind, address, data_length, data) ==
        srec_decoded) {
        return srec_decoded;
    }
    return decode_terminated(raw, kind, address, data_length, data);
}

[[gnu::always_inline]] inline int read_and_decode(TextStream& input, RecordKind& kind,
                                                  std::int32_t& address, std::int32_t& data_length,
                                                  std::span<std::uint8_t> data) {
    RawLine raw;
    const int length = input.next_line(raw);
    if (length < 0) {
        return srec_failed;
    }
    if (length == 0) {
        return srec_no_line;
    }
    return decode_line(raw, kind, address, data_length, data);
}

} // namespace

int read_srecord(TextStream& input, RecordKind& kind, std::int32_t& address,
                 std::int32_t& data_length, RecordData data) {
    return read_and_decode(input, kind, address, data_length, data);
}

int scan_srecord(TextStream& input, RecordKind& kind, std::int32_t& address,
                 std::int32_t& data_length) {
    return read_and_decode(input, kind, address, data_length, {});
}

namespace {

// The longest line a record can be read whole in: 254 characters before the
// line feed (a 255-character piece comes from a longer line).
constexpr std::size_t longest_record_line = max_line_chars - 1;

// The parts one after the other. (Chains of std::string's + upset g++ 12's
// overflow warnings under link-time optimisation.)
std::string join(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) {
        text.append(part);
    }
    return text;
}

// A character as a message shows it.
std::string describe(char ch) {
    switch (ch) {
    case ' ':
        return "a space";
    case '\t':
        return "a tab";
    case '\r':
        return "a carriage return without a line feed after it";
    default:
        break;
    }
    std::array<char, 16> text{};
    if (ch > ' ' && ch < '\x7f') {
        std::snprintf(text.data(), text.size(), "'%c'", ch);
    } else {
        std::snprintf(text.data(), text.size(), "byte 0x%02X", static_cast<unsigned char>(ch));
    }
    return text.data();
}

// What a file that is not made of S-records is, told by its first line.
std::string first_line_reason(std::string_view line) {
    if (line.starts_with(':')) {
        return "this is an Intel HEX file, not S-records (objcopy -I ihex -O srec converts it)";
    }
    if (line.starts_with("\x7f"
                         "ELF")) {
        return "this is an ELF file, not S-records (objcopy -O srec writes them from it)";
    }
    if (line.starts_with("\xef\xbb\xbf")) {
        return "the file starts with a byte-order mark; save it without one";
    }
    // A carriage return and a line feed come as a line feed alone, so a
    // carriage return with more after it in the first line ends a record by
    // itself.
    if (const std::size_t cr = line.find('\r');
        line.starts_with('S') && cr != std::string_view::npos && cr + 1 < line.size()) {
        return "the lines end in a carriage return alone; save the file with LF or CR LF line "
               "ends";
    }
    return {};
}

// The address bytes of each record type, from '0' to '9'; 0 for the types
// that are not read.
constexpr std::array<std::size_t, 10> address_bytes{2, 2, 3, 4, 0, 0, 0, 4, 3, 2};

// The ways a line can fail to be a whole, well-formed record, in the order
// they are tested.
enum class Rejection {
    none,
    too_long,
    blank,
    not_s,
    ends_after_s,
    type_not_digit,
    type_4,
    count_record,
    not_hex_digit,
    ends_before_count,
    length_not_count,
    count_too_small,
    wrong_checksum,
};

// The one statement of the strict rules: the first one `line` breaks, or
// Rejection::none. It is the fast test of every line, so a well-formed record
// costs one pass over its digits, which checks them and adds up the bytes.
[[gnu::always_inline]] inline Rejection check_record(std::string_view line) noexcept {
    if (line.size() > longest_record_line) {
        return Rejection::too_long;
    }
    if (line.empty()) {
        return Rejection::blank;
    }
    if (line[0] != 'S') {
        return Rejection::not_s;
    }
    if (line.size() < count_position) {
        return Rejection::ends_after_s;
    }
    const char type = line[type_position];
    if (type < '0' || type > '9') {
        return Rejection::type_not_digit;
    }
    if (type == '4') {
        return Rejection::type_4;
    }
    if (type == '5' || type == '6') {
        return Rejection::count_record;
    }
    const std::string_view hex = line.substr(count_position);
    const std::optional<std::uint8_t> sum = hex_byte_sum(hex);
    // No sum: a character that is not a digit, or an odd number of them,
    // which the length rule below refuses.
    if (!sum && find_non_hex_digit(hex) < hex.size()) {
        return Rejection::not_hex_digit;
    }
    if (line.size() < address_position) {
        return Rejection::ends_before_count;
    }
    const std::size_t count = hex_value<1>(line.data() + count_position);
    if (line.size() - address_position != 2 * count) {
        return Rejection::length_not_count;
    }
    if (count <= address_bytes[static_cast<std::size_t>(type - '0')]) {
        return Rejection::count_too_small;
    }
    return sum == 0xFF ? Rejection::none : Rejection::wrong_checksum;
}

// Why `line` broke `rule`, in words.
std::string explain(Rejection rule, std::string_view line) {
    std::array<char, 160> text{};
    const auto number = [&line](std::size_t position) {
        return static_cast<std::size_t>(hex_value<1>(line.data() + position));
    };
    switch (rule) {
    case Rejection::none:
        break;
    case Rejection::too_long:
        return "line longer than 254 characters";
    case Rejection::blank:
        return "blank line";
    case Rejection::not_s:
        return line[0] == 's' ? "a record starts with an upper-case 'S', not 's'"
                              : join({"a record starts with 'S', not ", describe(line[0])});
    case Rejection::ends_after_s:
        return "the line ends after the 'S'";
    case Rejection::type_not_digit:
        return join({"the record type is ", describe(line[type_position]), ", not a digit"});
    case Rejection::type_4:
        return "S4 records are not read";
    case Rejection::count_record:
        return join({"S", line.substr(type_position, 1),
                     " record-count records are not read (srec_cat: add -disable=data-count)"});
    case Rejection::not_hex_digit: {
        const std::string_view hex = line.substr(count_position);
        return join({describe(hex[find_non_hex_digit(hex)]), " is not a hexadecimal digit"});
    }
    case Rejection::ends_before_count:
        return "the line ends before its count";
    case Rejection::length_not_count:
        std::snprintf(text.data(), text.size(),
                      "the count %02zX needs %zu characters after it, the line has %zu",
                      number(count_position), 2 * number(count_position),
                      line.size() - address_position);
        return text.data();
    case Rejection::count_too_small:
        std::snprintf(
            text.data(), text.size(),
            "the count %02zX is less than the %zu bytes of an S%c record's address and checksum",
            number(count_position),
            address_bytes[static_cast<std::size_t>(line[type_position] - '0')] + 1,
            line[type_position]);
        return text.data();
    case Rejection::wrong_checksum: {
        const std::string_view bytes = line.substr(count_position, line.size() - 4);
        std::snprintf(text.data(), text.size(), "checksum is %02X, the record's bytes give %02X",
                      static_cast<unsigned>(number(line.size() - 2)),
                      static_cast<unsigned>(static_cast<std::uint8_t>(~*hex_byte_sum(bytes))));
        return text.data();
    }
    }
    return {};
}

// Why `line`, which broke `rule`, is refused. A file of another kind is told
// by its first bytes, however long its first line runs.
[[gnu::cold, gnu::noinline]] std::string strict_rejection(Rejection rule, std::string_view line,
                                                          bool first_line) {
    if (std::string reason = first_line ? first_line_reason(line) : ""; !reason.empty()) {
        return reason;
    }
    return explain(rule, line);
}

[[gnu::cold, gnu::noinline]] std::string high_address_reason(std::int32_t address) {
    std::array<char, 200> text{};
    std::snprintf(text.data(), text.size(),
                  "the record at 0x%08X is at or above 0x80000000, where addresses count as "
                  "negative and the image would wrap (see HIGH ADDRESSES in imgpack(1))",
                  static_cast<unsigned>(address));
    return text.data();
}

// True when the record's last byte lies past 0x7FFFFFFF, where its 32-bit end
// address wraps.
bool ends_past_top(const DataRecord& record) {
    return record.address >= 0 && record.data_length > 0 &&
           std::int64_t{record.address} + record.data_length - 1 > INT32_MAX;
}

} // namespace

void Extent::add(const DataRecord& record) noexcept {
    const auto address = static_cast<std::uint32_t>(record.address);
    lowest = std::min(lowest, address);
    end = std::max(end, std::uint64_t{address} +
                            static_cast<std::uint64_t>(std::max(record.data_length, 0)));
    any = true;
}

void Extent::add(const Extent& other) noexcept {
    if (other.any) {
        lowest = std::min(lowest, other.lowest);
        end = std::max(end, other.end);
        any = true;
    }
}

int scan_srecord_checked(TextStream& input, RecordKind& kind, std::int32_t& address,
                         std::int32_t& data_length, CheckedReading& reading) {
    RawLine raw;
    const int length = input.next_line(raw);
    if (length < 0) {
        reading.reason.clear();
        return srec_failed;
    }
    if (length == 0) {
        return srec_no_line;
    }
    const std::string_view line(raw.text, raw.chars_before_feed);
    // Only a rejected line needs to know whether it is the file's first.
    const auto first_line = [&reading] {
        return reading.at_file_start && reading.complete_lines == 0;
    };
    RecordKind decoded_kind = RecordKind::header;
    DataRecord record;
    if (reading.strict) {
        if (const Rejection rule = check_record(line); rule != Rejection::none) {
            reading.reason = strict_rejection(rule, line, first_line());
            assert(!reading.reason.empty());
            return srec_failed;
        }
        // A well-formed record lies wholly before its line end.
        [[maybe_unused]] const int decoded =
            decode_fields(line, decoded_kind, record.address, record.data_length, {});
        assert(decoded == srec_decoded);
    } else if (decode_line(raw, decoded_kind, record.address, record.data_length, {}) !=
               srec_decoded) {
        // Every line the default reader rejects breaks a strict rule, which
        // says why.
        reading.reason = strict_rejection(check_record(line), line, first_line());
        return srec_failed;
    }
    if (decoded_kind == RecordKind::data) {
        if (record.address < 0 && reading.refuse_high_addresses) {
            reading.reason = high_address_reason(record.address);
            return srec_failed;
        }
        if (!reading.past_top && ends_past_top(record)) {
            reading.past_top = record;
        }
        reading.extent.add(record);
        address = record.address;
        data_length = record.data_length;
    }
    kind = decoded_kind;
    if (raw.has_line_feed) {
        ++reading.complete_lines;
    }
    return srec_decoded;
}

} // namespace imgpack

// Deterministic S-record generator for benchmarks and tests.
//
//   srecgen --size BYTES [--type 1|2|3] [--data N] [--crlf] [--start ADDR]
//           [--run N --gap BYTES] [--no-header] [--no-termination] [--seed N] OUT
//
// Writes data records of N bytes each (pseudo-random contents from the seed)
// at consecutive addresses from ADDR until the file reaches about BYTES;
// with --run, a gap of BYTES addresses follows every N records. Every record
// has a correct checksum and no line is longer than 254 characters.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
    std::uint64_t size = 1 << 20;
    int type = 3;
    int data = 32;
    bool crlf = false;
    std::uint64_t start = 0;
    std::uint64_t run = 0;
    std::uint64_t gap = 0;
    bool header = true;
    bool termination = true;
    std::uint64_t seed = 1;
    const char* output = nullptr;
};

[[noreturn]] void usage(const char* problem) {
    std::fprintf(stderr,
                 "srecgen: %s\nusage: srecgen --size BYTES [--type 1|2|3] [--data N] [--crlf] "
                 "[--start ADDR] [--run N --gap BYTES] [--no-header] [--no-termination] "
                 "[--seed N] OUT\n",
                 problem);
    std::exit(2);
}

std::uint64_t parse_number(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end == text.data()) {
        usage("bad number");
    }
    std::uint64_t scale = 1;
    if (end != text.data() + text.size()) {
        const std::string_view suffix(end,
                                      static_cast<std::size_t>(text.data() + text.size() - end));
        if (suffix == "K") {
            scale = 1ULL << 10;
        } else if (suffix == "M") {
            scale = 1ULL << 20;
        } else if (suffix == "G") {
            scale = 1ULL << 30;
        } else {
            usage("bad size suffix (K, M or G)");
        }
    }
    return value * scale;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&] {
            if (i + 1 >= argc) {
                usage("missing value");
            }
            return parse_number(argv[++i]);
        };
        if (arg == "--size") {
            options.size = value();
        } else if (arg == "--type") {
            options.type = static_cast<int>(value());
        } else if (arg == "--data") {
            options.data = static_cast<int>(value());
        } else if (arg == "--crlf") {
            options.crlf = true;
        } else if (arg == "--start") {
            options.start = value();
        } else if (arg == "--run") {
            options.run = value();
        } else if (arg == "--gap") {
            options.gap = value();
        } else if (arg == "--no-header") {
            options.header = false;
        } else if (arg == "--no-termination") {
            options.termination = false;
        } else if (arg == "--seed") {
            options.seed = value();
        } else if (!arg.starts_with("--") && options.output == nullptr) {
            options.output = argv[i];
        } else {
            usage("unknown argument");
        }
    }
    if (options.output == nullptr) {
        usage("no output file");
    }
    if (options.type < 1 || options.type > 3) {
        usage("--type must be 1, 2 or 3");
    }
    const int max_data = 125 - (options.type + 1) - 1;
    if (options.data < 1 || options.data > max_data) {
        usage("--data out of range for the record type");
    }
    return options;
}

class Writer {
  public:
    explicit Writer(const char* path) : file_(std::fopen(path, "wb")) {
        if (file_ == nullptr) {
            usage("cannot create the output file");
        }
        buffer_.reserve(1 << 20);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() {
        flush();
        std::fclose(file_);
    }

    // One record: type, address in `address_bytes` bytes, data, checksum.
    void record(int type, int address_bytes, std::uint64_t address, const std::uint8_t* data,
                int count, bool crlf) {
        buffer_ += 'S';
        buffer_ += static_cast<char>('0' + type);
        const auto byte_count = static_cast<unsigned>(address_bytes + count + 1);
        unsigned sum = byte_count;
        put(byte_count);
        for (int i = address_bytes - 1; i >= 0; --i) {
            const auto byte = static_cast<unsigned>((address >> (8 * i)) & 0xFF);
            sum += byte;
            put(byte);
        }
        for (int i = 0; i < count; ++i) {
            sum += data[i];
            put(data[i]);
        }
        put(~sum & 0xFFU);
        buffer_ += crlf ? "\r\n" : "\n";
        if (buffer_.size() >= (1 << 20)) {
            flush();
        }
    }

  private:
    void put(unsigned byte) {
        static constexpr char digits[] = "0123456789ABCDEF";
        buffer_ += digits[(byte >> 4) & 0xF];
        buffer_ += digits[byte & 0xF];
    }
    void flush() {
        if (!buffer_.empty() &&
            std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            usage("write failed");
        }
        buffer_.clear();
    }

    std::FILE* file_;
    std::string buffer_;
};

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const int address_bytes = options.type + 1;
    const std::size_t line_length =
        4 + 2 * static_cast<std::size_t>(address_bytes + options.data + 1) + (options.crlf ? 2 : 1);
    Writer out(options.output);
    std::uint64_t written = 0;
    if (options.header) {
        const std::uint8_t name[] = {'s', 'r', 'e', 'c', 'g', 'e', 'n'};
        out.record(0, 2, 0, name, sizeof name, options.crlf);
        written += 4 + 2 * (2 + sizeof name + 1) + (options.crlf ? 2 : 1);
    }
    std::uint64_t state = options.seed * 0x9E3779B97F4A7C15ULL + 1;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(options.data));
    std::uint64_t address = options.start;
    std::uint64_t records = 0;
    const std::uint64_t address_limit = 1ULL << (8 * address_bytes);
    while (written + line_length <= options.size) {
        if (address + static_cast<std::uint64_t>(options.data) > address_limit) {
            break; // the address space of this record type is full
        }
        for (auto& byte : data) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        out.record(options.type, address_bytes, address, data.data(), options.data, options.crlf);
        written += line_length;
        address += static_cast<std::uint64_t>(options.data);
        if (options.run != 0 && ++records % options.run == 0) {
            address += options.gap;
        }
    }
    if (options.termination) {
        const int termination_type = 10 - options.type;
        out.record(termination_type, address_bytes, options.start, nullptr, 0, options.crlf);
    }
    return 0;
}

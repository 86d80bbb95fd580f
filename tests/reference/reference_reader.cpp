#include "reference/reference_reader.hpp"

namespace imgpack::reference {

int Stream::next_char() {
    if (position_ >= bytes_.size() || bytes_[position_] == '\x1a') {
        end_ = true;
        return -1;
    }
    const char c = bytes_[position_];
    position_ = position_ + 1;
    if (c == '\r') {
        // Look at the next byte: a LF after the CR replaces both.
        if (position_ >= bytes_.size() || bytes_[position_] == '\x1a') {
            end_ = true;
            return '\r';
        }
        if (bytes_[position_] == '\n') {
            position_ = position_ + 1;
            return '\n';
        }
        return '\r';
    }
    return static_cast<unsigned char>(c);
}

std::size_t Stream::read_line(std::array<char, 256>& line) {
    std::size_t count = 0;
    while (count < 255) {
        const int c = next_char();
        if (c < 0) {
            break;
        }
        line[count] = static_cast<char>(c);
        count = count + 1;
        if (c == '\n') {
            break;
        }
    }
    line[count] = '\0';
    return count;
}

int digit_value(char ch) {
    const int c = static_cast<signed char>(ch);
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return c - 'a' + 10;
}

namespace {

// The value of `digits` characters from `position` on, wrapping at 32 bits.
std::uint32_t field(const std::array<char, 256>& line, std::size_t position, std::size_t digits) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; i = i + 1) {
        value = value * 16 + static_cast<std::uint32_t>(digit_value(line[position + i]));
    }
    return value;
}

} // namespace

Record read_record(Stream& stream) {
    Record record;
    std::array<char, 256> line{};
    const std::size_t length = stream.read_line(line);
    if (length == 0) {
        record.result = Result::no_line;
        return record;
    }
    // Positions 0 to `length` (the terminating zero) may be read.
    record.result = Result::failed;
    if (line[0] != 'S') {
        return record;
    }
    const char type = line[1];
    if (type == '0') {
        record.result = Result::decoded;
        record.kind = Kind::header;
        return record;
    }
    if (type == '7' || type == '8' || type == '9') {
        record.result = Result::decoded;
        record.kind = Kind::termination;
        return record;
    }
    if (type != '1' && type != '2' && type != '3') {
        return record;
    }
    const int address_bytes = type - '0' + 1;
    const std::size_t address_end = 4 + 2 * static_cast<std::size_t>(address_bytes);
    if (address_end - 1 > length) {
        return record;
    }
    const auto count = static_cast<std::int32_t>(field(line, 2, 2));
    const std::int32_t data_length = count - address_bytes - 1;
    if (data_length > 0 && address_end + 2 * static_cast<std::size_t>(data_length) - 1 > length) {
        return record;
    }
    record.result = Result::decoded;
    record.kind = Kind::data;
    record.address =
        static_cast<std::int32_t>(field(line, 4, 2 * static_cast<std::size_t>(address_bytes)));
    record.data_length = data_length;
    for (std::int32_t i = 0; i < data_length; i = i + 1) {
        const std::size_t at = address_end + 2 * static_cast<std::size_t>(i);
        record.data[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(field(line, at, 2) & 0xFF);
    }
    return record;
}

Conversion preprocess(std::string_view bytes) {
    Conversion conversion;
    conversion.low = 0x7FFFFFFF;
    conversion.high = 0;
    Stream stream(bytes);
    while (!stream.at_end()) {
        const Record record = read_record(stream);
        if (record.result == Result::no_line) {
            break;
        }
        if (record.result == Result::failed) {
            conversion.preprocess_result = -1;
            return conversion;
        }
        if (record.kind != Kind::data) {
            continue;
        }
        if (record.address < conversion.low) {
            conversion.low = record.address;
        }
        const auto end =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(record.address) +
                                      static_cast<std::uint32_t>(record.data_length) - 1U);
        if (end > conversion.high) {
            conversion.high = end;
        }
    }
    conversion.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(conversion.high) -
                                                static_cast<std::uint32_t>(conversion.low) + 1U);
    return conversion;
}

Image fill(std::string_view bytes, std::int32_t low, std::size_t size) {
    Image image;
    image.bytes.assign(size, 0xFF);
    Stream stream(bytes);
    while (!stream.at_end()) {
        const Record record = read_record(stream);
        if (record.result != Result::decoded) {
            break;
        }
        if (record.kind != Kind::data || record.data_length <= 0) {
            continue;
        }
        const std::uint32_t offset =
            static_cast<std::uint32_t>(record.address) - static_cast<std::uint32_t>(low);
        if (static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(record.data_length) >
            size) {
            image.fill_result = -1;
            return image;
        }
        for (std::int32_t i = 0; i < record.data_length; i = i + 1) {
            image.bytes[offset + static_cast<std::uint32_t>(i)] =
                record.data[static_cast<std::size_t>(i)];
        }
    }
    return image;
}

} // namespace imgpack::reference

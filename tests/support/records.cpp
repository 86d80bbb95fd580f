#include "support/records.hpp"

#include <cstdio>

namespace imgpack::test {

namespace {

int address_bytes_for(int type) {
    switch (type) {
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return 2;
    }
}

void append_byte(std::string& text, unsigned value) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value & 0xFFU);
    text += digits;
}

} // namespace

std::string record(int type, std::uint32_t address, const Bytes& data) {
    const int address_bytes = address_bytes_for(type);
    const auto count =
        static_cast<unsigned>(address_bytes) + static_cast<unsigned>(data.size()) + 1U;
    std::string text = "S" + std::to_string(type);
    append_byte(text, count);
    unsigned sum = count;
    for (int i = address_bytes - 1; i >= 0; --i) {
        const unsigned byte = (address >> (8 * i)) & 0xFFU;
        append_byte(text, byte);
        sum += byte;
    }
    for (const std::uint8_t byte : data) {
        append_byte(text, byte);
        sum += byte;
    }
    append_byte(text, ~sum);
    return text;
}

Bytes ramp(std::size_t count, std::uint8_t first) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

std::string lines(const std::vector<std::string>& records, const std::string& line_end) {
    std::string text;
    for (const auto& line : records) {
        text += line;
        text += line_end;
    }
    return text;
}

} // namespace imgpack::test

#include "srec/reader.hpp"

#include "srec/hex.hpp"
#include "srec/hex_table.hpp"

#include <array>
#include <cassert>

namespace imgpack {

namespace {

constexpr std::size_t type_position = 1;
constexpr std::size_t count_position = 2;
constexpr std::size_t address_position = 4;

} // namespace

int decode_srecord(std::string_view line, RecordKind& kind, std::int32_t& address,
                   std::int32_t& data_length, std::span<std::uint8_t> data) {
    assert(!line.empty() && line.back() == '\0');
    // Every position up to and including the terminating zero may be read.
    const std::size_t readable = line.size();
    if (line[0] != 'S') {
        return srec_failed;
    }
    // Position 1 exists: after an "S" there is at least the terminating zero.
    switch (line[type_position]) {
    case '0':
        kind = RecordKind::header;
        return srec_decoded;
    case '7':
    case '8':
    case '9':
        kind = RecordKind::termination;
        return srec_decoded;
    case '1':
    case '2':
    case '3':
        break;
    default: // '4' to '6' (count records among them) and anything else
        return srec_failed;
    }

    const int address_bytes = line[type_position] - '0' + 1;
    const auto data_position = address_position + 2 * static_cast<std::size_t>(address_bytes);
    if (data_position > readable) {
        return srec_failed; // the count or address field runs past the line
    }
    const std::int32_t count = hex_value(line.substr(count_position), 1);
    const std::int32_t length = count - address_bytes - 1;
    if (length > 0 && data_position + 2 * static_cast<std::size_t>(length) > readable) {
        return srec_failed; // the data bytes run past the line
    }
    // The bound above keeps length at most 124, well inside the data array.
    if (length > 0 && !data.empty()) {
        assert(data.size() >= static_cast<std::size_t>(length));
        decode_hex_pairs(line.data() + data_position, static_cast<std::size_t>(length),
                         data.data());
    }
    kind = RecordKind::data;
    address = hex_value(line.substr(address_position), address_bytes);
    data_length = length;
    return srec_decoded;
}

namespace {

int read_and_decode(TextStream& input, RecordKind& kind, std::int32_t& address,
                    std::int32_t& data_length, std::span<std::uint8_t> data) {
    std::array<char, line_buffer_size> line; // NOLINT: filled by read_line
    const int length = input.read_line(line);
    if (length < 0) {
        return srec_failed;
    }
    if (length == 0) {
        return srec_no_line;
    }
    return decode_srecord(std::string_view(line.data(), static_cast<std::size_t>(length) + 1),
                          kind, address, data_length, data);
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

} // namespace imgpack

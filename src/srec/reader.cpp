#include "srec/reader.hpp"

#include "srec/hex_table.hpp"

#include <array>
#include <cassert>

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
    const auto count = static_cast<std::int32_t>(hex_field_fixed<2>(text.data() + count_position));
    const std::int32_t length = count - static_cast<std::int32_t>(AddressBytes) - 1;
    if (length > 0 && data_position + 2 * static_cast<std::size_t>(length) > text.size()) {
        return srec_failed; // the data bytes run past the line
    }
    // The bound above keeps length at most 124, well inside the data array.
    if (length > 0 && !data.empty()) {
        assert(data.size() >= static_cast<std::size_t>(length));
        decode_hex_pairs(text.data() + data_position, static_cast<std::size_t>(length),
                         data.data());
    }
    kind = RecordKind::data;
    address = static_cast<std::int32_t>(
        hex_field_fixed<2 * AddressBytes>(text.data() + address_position));
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
// line feed and terminating zero spelled out.
[[gnu::noinline]] int decode_spelled_out(const RawLine& raw, RecordKind& kind,
                                         std::int32_t& address, std::int32_t& data_length,
                                         std::span<std::uint8_t> data) {
    std::array<char, line_buffer_size> line; // NOLINT: spell_out writes the used part
    const std::size_t length = raw.spell_out(line);
    return decode_fields({line.data(), length + 1}, kind, address, data_length, data);
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
    // Nearly every record lies wholly before its line end: decode it where it
    // stands. Only a line that fails that way needs its line feed and
    // terminating zero, which may take part in a field, spelled out.
    if (decode_fields({raw.text, raw.content}, kind, address, data_length, data) == srec_decoded) {
        return srec_decoded;
    }
    return decode_spelled_out(raw, kind, address, data_length, data);
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

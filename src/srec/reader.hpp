#pragma once

#include "srec/text_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace imgpack {

// What a decoded line is. Only data records carry an address and bytes.
enum class RecordKind : int {
    data = 0,        // S1, S2, S3
    termination = 1, // S7, S8, S9
    header = 2,      // S0
};

// The most data bytes a record can carry; no line that fits the line buffer
// holds more than 124.
inline constexpr std::size_t record_data_capacity = 128;
using RecordData = std::span<std::uint8_t, record_data_capacity>;

// Results of read_srecord().
inline constexpr int srec_decoded = 0;
inline constexpr int srec_failed = -1;
inline constexpr int srec_no_line = 1; // the stream had no character left

// Reads the next line of `input` and decodes it. Returns srec_decoded,
// srec_failed (bad line or read error) or srec_no_line when the stream was
// exhausted; in the last two cases nothing is written.
int read_srecord(TextStream& input, RecordKind& kind, std::int32_t& address,
                 std::int32_t& data_length, RecordData data);

// Like read_srecord(), and rejecting exactly the same lines, but leaves the
// data bytes undecoded: for a pass that only needs addresses and lengths.
int scan_srecord(TextStream& input, RecordKind& kind, std::int32_t& address,
                 std::int32_t& data_length);

} // namespace imgpack

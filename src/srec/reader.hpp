#pragma once

#include "srec/text_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

// Where a data record lies: its load address and its number of data bytes.
struct DataRecord {
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    friend bool operator==(const DataRecord&, const DataRecord&) = default;
};

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

// Strict reading of one stream, line after line: the number of lines read so
// far that ended in a line feed (so a rejected line is named by its number),
// and why the last rejected line was rejected.
struct StrictReading {
    bool at_file_start = true; // the stream's first line is the file's first line
    // Data records from 0x80000000 up count as negative addresses and make the
    // image wrap, so they are refused unless the caller places the image itself.
    bool refuse_high_addresses = true;
    std::uint64_t complete_lines = 0;
    std::string reason; // empty after a read error
    // The first data record whose bytes run on past 0x7FFFFFFF: its end wraps,
    // so it never widens the span and cannot be placed in the image.
    std::optional<DataRecord> past_top;
};

// Like scan_srecord(), and rejecting every line it rejects, but also every
// line that is not a whole, well-formed S-record: after "S" and the type
// digit only hexadecimal digits, exactly 4 + 2 * count characters before the
// line end, a count that covers at least the address and the checksum, and a
// checksum that matches, and (with strict.refuse_high_addresses) a data
// record below 0x80000000. On srec_failed `strict.reason` says why, and the
// rejected line is number strict.complete_lines + 1.
int scan_srecord_strictly(TextStream& input, RecordKind& kind, std::int32_t& address,
                          std::int32_t& data_length, StrictReading& strict);

} // namespace imgpack

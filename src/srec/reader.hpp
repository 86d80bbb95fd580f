#pragma once

#include "srec/text_stream.hpp"

#include <climits>
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

// Where the data records of a stream lie, their addresses read as unsigned
// 32-bit values: the lowest address and the highest end (address + data
// length, so up to 2^32), for an image whose caller places it itself.
struct Extent {
    std::uint32_t lowest = UINT32_MAX;
    std::uint64_t end = 0;
    bool any = false; // a data record was seen

    void add(const DataRecord& record) noexcept;
    void add(const Extent& other) noexcept;
};

// Reading one stream line after line with more said than the default reader
// says: why a line was rejected, with the number of lines before it (so it
// can be named), and where the data records lie.
struct CheckedReading {
    // The strict rules apply: every line must be a whole, well-formed record.
    bool strict = true;
    // Data records from 0x80000000 up count as negative addresses and make the
    // image wrap, so strict mode refuses them unless the caller places the
    // image itself.
    bool refuse_high_addresses = true;
    bool at_file_start = true; // the stream's first line is the file's first line
    std::uint64_t complete_lines = 0;
    std::string reason; // empty after a read error
    // The first data record whose bytes run on past 0x7FFFFFFF: its end wraps,
    // so it never widens the span and cannot be placed in the image.
    std::optional<DataRecord> past_top;
    Extent extent;
};

// Like scan_srecord(), and rejecting every line it rejects; with
// reading.strict also every line that is not a whole, well-formed S-record
// (after "S" and the type digit only hexadecimal digits, exactly 4 + 2 *
// count characters before the line end, a count that covers at least the
// address and the checksum, and a checksum that matches), and with
// reading.refuse_high_addresses every data record from 0x80000000 up. On
// srec_failed `reading.reason` says why (it is empty after a read error), and
// the rejected line is number reading.complete_lines + 1.
int scan_srecord_checked(TextStream& input, RecordKind& kind, std::int32_t& address,
                         std::int32_t& data_length, CheckedReading& reading);

} // namespace imgpack

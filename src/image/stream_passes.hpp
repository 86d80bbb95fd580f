#pragma once

#include "image/coverage.hpp"
#include "srec/reader.hpp"
#include "srec/text_stream.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// The preprocess pass: reads every line from the start of `input`, checking
// each, and finds the address span of the data records. `low` ends at the
// lowest load address (0x7FFFFFFF when there is no data record), `high` at the
// highest end address, never below 0; both compared as signed 32-bit values.
// Returns 0, or -1 at the first line the reader rejects.
int preprocess_input(TextStream& input, std::int32_t& low, std::int32_t& high);

// The same, also finding where the data records lie (`extent`), their
// addresses read as unsigned.
int preprocess_input_extent(TextStream& input, std::int32_t& low, std::int32_t& high,
                            Extent& extent);

// The same with scan_srecord_checked(): `reading` sets the rules (strict or
// the default reader's), says which line was rejected and why, and where the
// data records lie.
int preprocess_input_checked(TextStream& input, std::int32_t& low, std::int32_t& high,
                             CheckedReading& reading);

// A data record whose bytes do not all lie inside the read buffer; such a
// record always has data bytes, so a length of 0 means there was none.
struct RecordOutside {
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    [[nodiscard]] bool found() const noexcept { return data_length > 0; }
};

// The fill pass: reads `input` again from its start and copies the bytes of
// every data record into `buffer` at the record's offset from `low`, later
// records overwriting earlier ones. Returns 0, or -1 when the input cannot be
// rewound, the reader rejects a line, or a record's bytes do not all lie
// inside `buffer` (nothing is then written outside it, and `outside`, when
// given, tells which record it was; the fuzz target leaves it out).
int fill_read_buffer(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
                     RecordOutside* outside = nullptr);

// A byte that a later record gives another value than an earlier one did.
struct Contradiction {
    std::uint64_t line = 0; // the later record's line in its stream, from 1; 0 for none
    std::int32_t address = 0;
    std::uint8_t here = 0;    // the later record's value
    std::uint8_t earlier = 0; // the value an earlier record wrote
    [[nodiscard]] bool found() const noexcept { return line != 0; }
};

// Record bytes that fall outside an image placed by its caller and are left
// out: the first such record in file order, and the totals.
struct LeftOut {
    std::uint64_t line = 0;    // the first record's line in its stream, from 1; 0 for none
    std::uint32_t address = 0; // its first byte outside the image
    std::uint64_t bytes = 0;   // its bytes outside the image
    std::uint64_t records = 0; // all records with bytes outside the image
    std::uint64_t total_bytes = 0;
    [[nodiscard]] bool found() const noexcept { return records != 0; }
    void add(const LeftOut& later) noexcept;
};

// What the fill pass keeps track of beyond the bytes.
struct FillCheck {
    std::optional<CoverageView> coverage; // marks every byte a record writes
    bool refuse_contradictions = false; // fail at a byte written twice differently (needs coverage)
    // The image is placed by the caller, its addresses read as unsigned:
    // record bytes outside it are left out and counted instead of failing.
    bool clip = false;
    RecordOutside outside;
    Contradiction contradiction;
    LeftOut left_out;
};

// fill_read_buffer() that also marks in `check.coverage` every byte a record
// writes; with `check.refuse_contradictions` fails at the first record that
// gives an already written byte another value (leaving that record unwritten
// and `check.contradiction` saying where); and with `check.clip` leaves out,
// and counts in `check.left_out`, the bytes that lie outside the addresses
// from `low` (unsigned) on, buffer.size() of them.
int fill_read_buffer_checked(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
                             FillCheck& check);

} // namespace imgpack

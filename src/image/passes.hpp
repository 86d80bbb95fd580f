#pragma once

#include "srec/text_stream.hpp"

#include <cstdint>
#include <span>

namespace imgpack {

// The preprocess pass: reads every line from the start of `input`, checking
// each, and finds the address span of the data records. `low` ends at the
// lowest load address (0x7FFFFFFF when there is no data record), `high` at the
// highest end address, never below 0; both compared as signed 32-bit values.
// Returns 0, or -1 at the first line the reader rejects.
int preprocess_input(TextStream& input, std::int32_t& low, std::int32_t& high);

// The fill pass: reads `input` again from its start and copies the bytes of
// every data record into `buffer` at the record's offset from `low`, later
// records overwriting earlier ones. Returns 0, or -1 when the input cannot be
// rewound, the reader rejects a line, or a record's bytes do not all lie
// inside `buffer` (nothing is then written outside it).
int fill_read_buffer(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low);

} // namespace imgpack

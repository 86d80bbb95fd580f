#pragma once

// The reasons the driver gives on standard error, in words: why a step
// failed, and the warning for record bytes left out of a placed image.

#include "image/builder.hpp"

#include <cstdint>
#include <string>

namespace imgpack {

// "1 byte", "20 bytes": a count and its thing, plural where it is not one.
std::string count_of(std::uint64_t count, const char* thing);

// A number as 0x and eight upper-case hexadecimal digits.
std::string hex32(std::uint32_t value);

// Why no image of the span low..high (with `size` bytes, negative when it
// wraps) can be had.
std::string allocation_reason(std::int32_t low, std::int32_t high, std::int32_t size);

// Why a record whose bytes run on past 0x7FFFFFFF cannot be placed.
std::string past_top_reason(const DataRecord& record);

// Why the fill pass failed.
std::string fill_reason(const PassResult& result);

// The warning for record bytes outside an image from `first` to `last`.
std::string left_out_warning(const LeftOut& left_out, std::uint32_t first, std::uint32_t last);

} // namespace imgpack

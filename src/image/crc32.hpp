#pragma once

#include "image/coverage.hpp"

#include <cstdint>
#include <span>

namespace imgpack {

// CRC-32 as zlib, PNG and Ethernet compute it: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF. The empty input gives 0.
[[nodiscard]] std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) noexcept;

// What became of a CRC-32 to be stored in an image.
enum class CrcStore {
    stored,
    outside,   // its four bytes do not all lie inside the image
    over_data, // a record wrote one of its four bytes
};

// Stores the CRC-32 of the image's bytes before address `at` at `at` to
// `at` + 3, least significant byte first. `image` starts at address `base`;
// `written` says which of its bytes records wrote. Changes nothing unless the
// result is CrcStore::stored.
CrcStore store_crc32(std::span<std::uint8_t> image, std::uint32_t base, std::uint64_t at,
                     const Coverage& written) noexcept;

} // namespace imgpack

#pragma once

#include <cstdint>
#include <span>

namespace imgpack {

// CRC-32 as zlib, PNG and Ethernet compute it: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF. The empty input gives 0.
[[nodiscard]] std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) noexcept;

} // namespace imgpack

#include "image/crc32.hpp"

#include <algorithm>
#include <cstddef>
#include <zlib.h>

namespace imgpack {

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) noexcept {
    // zlib takes a length of type uInt, 32 bits wide: a larger image goes in
    // pieces of at most 1 GiB, the CRC carried from one to the next.
    constexpr std::size_t piece = std::size_t{1} << 30;
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!bytes.empty()) {
        const std::size_t size = std::min(bytes.size(), piece);
        crc = crc32(crc, bytes.data(), static_cast<uInt>(size));
        bytes = bytes.subspan(size);
    }
    return static_cast<std::uint32_t>(crc);
}

CrcStore store_crc32(std::span<std::uint8_t> image, std::uint32_t base, std::uint64_t at,
                     const Coverage& written) noexcept {
    constexpr std::size_t crc_size = 4;
    if (at < base || at - base + crc_size > image.size()) {
        return CrcStore::outside;
    }
    const auto offset = static_cast<std::size_t>(at - base);
    if (written.any(offset, crc_size)) {
        return CrcStore::over_data;
    }
    const std::uint32_t crc = crc32_of(image.first(offset));
    for (std::size_t i = 0; i < crc_size; ++i) {
        image[offset + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
    return CrcStore::stored;
}

} // namespace imgpack

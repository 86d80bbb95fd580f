#include "image/crc32.hpp"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <zlib.h>

namespace imgpack {

namespace {

// The CRC of `bytes` on this thread. zlib takes a length of type uInt, 32
// bits wide: a larger image goes in pieces of at most 1 GiB, the CRC carried
// from one to the next.
std::uint32_t crc32_here(std::span<const std::uint8_t> bytes) noexcept {
    constexpr std::size_t piece = std::size_t{1} << 30;
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!bytes.empty()) {
        const std::size_t size = std::min(bytes.size(), piece);
        crc = crc32(crc, bytes.data(), static_cast<uInt>(size));
        bytes = bytes.subspan(size);
    }
    return static_cast<std::uint32_t>(crc);
}

} // namespace

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) noexcept {
    // A large image is summed in two halves at once, joined with
    // crc32_combine(); on a small one a thread costs more than it saves.
    constexpr std::size_t min_split_size = std::size_t{4} << 20;
    if (bytes.size() < min_split_size) {
        return crc32_here(bytes);
    }
    const std::span<const std::uint8_t> first = bytes.first(bytes.size() / 2);
    const std::span<const std::uint8_t> second = bytes.subspan(first.size());
    std::uint32_t second_crc = 0;
    try {
        std::jthread other([&second_crc, second] { second_crc = crc32_here(second); });
        const std::uint32_t first_crc = crc32_here(first);
        other.join();
        // The halves are below 2 GiB, so their length fits any z_off_t.
        return static_cast<std::uint32_t>(
            crc32_combine(first_crc, second_crc, static_cast<z_off_t>(second.size())));
    } catch (const std::exception&) {
        return crc32_here(bytes); // no thread to be had: slower, never wrong
    }
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

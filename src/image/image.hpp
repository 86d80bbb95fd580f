#pragma once

#include "platform/platform.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace imgpack {

// The memory image: one block of exactly the span's size, released when it
// goes out of scope. Large images are mapped directly from the system (asking
// for huge pages where the platform has them) rather than taken from the heap.
class Image {
  public:
    // Allocates `size` bytes, every one preset to `fill`. A size of 0 is a
    // valid, empty buffer. Returns nullopt when the memory cannot be had.
    static std::optional<Image> allocate(std::size_t size, std::uint8_t fill);

    [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return pages_.bytes(); }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return pages_.bytes(); }

  private:
    explicit Image(platform::Pages pages) noexcept : pages_(std::move(pages)) {}

    platform::Pages pages_;
};

} // namespace imgpack

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// The memory image: one block of exactly the span's size, released when it
// goes out of scope. Large images are mapped directly from the system (asking
// for huge pages where the platform has them) rather than taken from the heap.
class Image {
  public:
    // Allocates `size` bytes, every one preset to `fill`. A size of 0 is a
    // valid, empty buffer. Returns nullopt when the memory cannot be had.
    static std::optional<Image> allocate(std::size_t size, std::uint8_t fill = 0xFF);

    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image();

    [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return {data_, size_}; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

  private:
    Image(std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    void release() noexcept;

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace imgpack

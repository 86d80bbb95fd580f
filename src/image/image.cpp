#include "image/image.hpp"

#include "platform/platform.hpp"

#include <cstring>
#include <utility>

namespace imgpack {

std::optional<Image> Image::allocate(std::size_t size, std::uint8_t fill) {
    if (size == 0) {
        return Image(nullptr, 0);
    }
    std::uint8_t* pages = platform::allocate_pages(size);
    if (pages == nullptr) {
        return std::nullopt;
    }
    std::memset(pages, fill, size);
    return Image(pages, size);
}

Image::Image(Image&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

Image::~Image() {
    release();
}

void Image::release() noexcept {
    if (data_ != nullptr) {
        platform::release_pages(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }
}

} // namespace imgpack

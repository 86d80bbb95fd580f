#include "image/read_buffer.hpp"

#include "platform/platform.hpp"

#include <cstring>
#include <utility>

namespace imgpack {

std::optional<ReadBuffer> ReadBuffer::allocate(std::size_t size) {
    if (size == 0) {
        return ReadBuffer(nullptr, 0);
    }
    std::uint8_t* pages = platform::allocate_pages(size);
    if (pages == nullptr) {
        return std::nullopt;
    }
    std::memset(pages, 0xFF, size);
    return ReadBuffer(pages, size);
}

ReadBuffer::ReadBuffer(ReadBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

ReadBuffer& ReadBuffer::operator=(ReadBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

ReadBuffer::~ReadBuffer() {
    release();
}

void ReadBuffer::release() noexcept {
    if (data_ != nullptr) {
        platform::release_pages(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }
}

} // namespace imgpack

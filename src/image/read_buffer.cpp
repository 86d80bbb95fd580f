#include "image/read_buffer.hpp"

#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace imgpack {

namespace {

constexpr std::size_t huge_page_size = std::size_t{2} << 20;

} // namespace

std::optional<ReadBuffer> ReadBuffer::allocate(std::size_t size) {
    if (size == 0) {
        return ReadBuffer(nullptr, 0);
    }
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return std::nullopt;
    }
#ifdef MADV_HUGEPAGE
    // Fewer page faults and TLB misses while presetting and filling a large
    // image; merely advice, so its result does not matter.
    if (size >= huge_page_size) {
        ::madvise(memory, size, MADV_HUGEPAGE);
    }
#endif
    std::memset(memory, 0xFF, size);
    return ReadBuffer(static_cast<std::uint8_t*>(memory), size);
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
        ::munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }
}

} // namespace imgpack

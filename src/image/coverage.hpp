#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// A record of which bytes of the image the records wrote: one bit per image
// byte, so that a byte written twice with different values, or a byte no
// record wrote, can be told. Threads that fill disjoint parts of the image
// may mark their bytes at once: the bits of two parts can share a word, so
// every access is atomic (relaxed: the threads are joined before anyone
// reads the result).
class Coverage {
  public:
    using Word = std::uint32_t;
    static constexpr std::size_t word_bits = 32;

    // A record for an image of `size` bytes, none of them written yet; nullopt
    // when the memory cannot be had.
    static std::optional<Coverage> allocate(std::size_t size) noexcept;

    Coverage(Coverage&& other) noexcept;
    Coverage& operator=(Coverage&& other) noexcept;
    Coverage(const Coverage&) = delete;
    Coverage& operator=(const Coverage&) = delete;
    ~Coverage();

    [[nodiscard]] std::size_t size() const noexcept { return size_; }

    // True when any byte from `offset` on, `length` of them, was written.
    [[nodiscard]] bool any(std::size_t offset, std::size_t length) const noexcept;
    // True when the byte at `offset` was written.
    [[nodiscard]] bool test(std::size_t offset) const noexcept {
        return (load(offset / word_bits) >> (offset % word_bits) & 1U) != 0;
    }
    // Marks the bytes from `offset` on, `length` of them, as written.
    void mark(std::size_t offset, std::size_t length) noexcept;

  private:
    Coverage(Word* words, std::size_t size) noexcept : words_(words), size_(size) {}
    [[nodiscard]] static std::size_t bytes_for(std::size_t size) noexcept {
        return (size + word_bits - 1) / word_bits * sizeof(Word);
    }
    [[nodiscard]] Word load(std::size_t word) const noexcept {
        return std::atomic_ref<Word>(words_[word]).load(std::memory_order_relaxed);
    }
    void release() noexcept;

    Word* words_ = nullptr;
    std::size_t size_ = 0;
};

// The part of a Coverage that belongs to one part of the image: byte 0 of the
// part is byte `first` of the image.
class CoverageView {
  public:
    CoverageView(Coverage& coverage, std::size_t first) noexcept
        : coverage_(&coverage), first_(first) {}

    [[nodiscard]] bool any(std::size_t offset, std::size_t length) const noexcept {
        return coverage_->any(first_ + offset, length);
    }
    [[nodiscard]] bool test(std::size_t offset) const noexcept {
        return coverage_->test(first_ + offset);
    }
    void mark(std::size_t offset, std::size_t length) noexcept {
        coverage_->mark(first_ + offset, length);
    }

  private:
    Coverage* coverage_;
    std::size_t first_;
};

} // namespace imgpack

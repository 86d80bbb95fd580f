#pragma once

#include "platform/platform.hpp"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace imgpack {

// A record of which bytes of the image the records wrote: one bit per image
// byte, so that a byte written twice with different values, or a byte no
// record wrote, can be told. Threads that fill disjoint parts of the image
// may mark their bytes at once. Every access is atomic, and relaxed: the
// threads are joined before anyone reads the result. Only the words at the
// two edges of a part can hold bits of another part, so only they need a
// (slower) atomic read-modify-write.
class Coverage {
  public:
    using Word = std::uint64_t;
    static constexpr std::size_t word_bits = 64;
    static_assert(std::atomic_ref<Word>::is_always_lock_free);

    // A record for an image of `size` bytes, none of them written yet; nullopt
    // when the memory cannot be had.
    static std::optional<Coverage> allocate(std::size_t size) noexcept;

    [[nodiscard]] std::size_t size() const noexcept { return size_; }

    // True when any byte from `offset` on, `length` of them, was written.
    [[nodiscard]] bool any(std::size_t offset, std::size_t length) const noexcept;
    // True when the byte at `offset` was written.
    [[nodiscard]] bool test(std::size_t offset) const noexcept {
        return (load(offset / word_bits) >> (offset % word_bits) & 1U) != 0;
    }
    // mark() when none of the bytes was written yet, and true; else false,
    // marking nothing. Most records land on fresh bytes, and this takes them
    // in one step.
    bool mark_if_unwritten(std::size_t offset, std::size_t length, std::size_t shared_low,
                           std::size_t shared_high) noexcept;

    // Calls visit(offset, length) for every run of written bytes, in rising
    // order; runs that touch are one.
    template <typename Visit> void for_each_run(const Visit& visit) const;

    // Marks the bytes from `offset` on, `length` of them, as written. Words
    // `shared_low` and `shared_high` may be marked by other threads at the
    // same time; no other word may.
    void mark(std::size_t offset, std::size_t length, std::size_t shared_low,
              std::size_t shared_high) noexcept;

  private:
    Coverage(platform::Pages pages, std::size_t size) noexcept
        : pages_(std::move(pages)), size_(size) {}
    [[nodiscard]] static std::size_t bytes_for(std::size_t size) noexcept {
        return (size + word_bits - 1) / word_bits * sizeof(Word);
    }
    [[nodiscard]] Word load(std::size_t word) const noexcept {
        return std::atomic_ref<Word>(words()[word]).load(std::memory_order_relaxed);
    }
    // The bits, in whole words of a block that starts on a page.
    [[nodiscard]] Word* words() const noexcept {
        return reinterpret_cast<Word*>(const_cast<std::uint8_t*>(pages_.bytes().data()));
    }

    platform::Pages pages_;
    std::size_t size_ = 0;
};

template <typename Visit> void Coverage::for_each_run(const Visit& visit) const {
    const std::size_t word_count = (size_ + word_bits - 1) / word_bits;
    std::size_t run_start = 0;
    bool in_run = false;
    for (std::size_t word = 0; word < word_count; ++word) {
        Word bits = load(word);
        // Whole words of one kind are common and skipped at once.
        if ((in_run && bits == ~Word{0}) || (!in_run && bits == 0)) {
            continue;
        }
        std::size_t bit = 0;
        while (bit < word_bits) {
            const Word rest = bits >> bit;
            if (in_run) {
                const auto ones = static_cast<std::size_t>(std::countr_one(rest));
                bit += ones;
                if (bit < word_bits) {
                    visit(run_start, word * word_bits + bit - run_start);
                    in_run = false;
                }
            } else {
                if (rest == 0) {
                    break;
                }
                bit += static_cast<std::size_t>(std::countr_zero(rest));
                run_start = word * word_bits + bit;
                in_run = true;
            }
        }
    }
    if (in_run) {
        visit(run_start, size_ - run_start);
    }
}

// The part of a Coverage that belongs to one part of the image, `length`
// bytes from byte `first` of the image on: offsets count from its start.
class CoverageView {
  public:
    CoverageView(Coverage& coverage, std::size_t first, std::size_t length) noexcept
        : coverage_(&coverage), first_(first), shared_low_(first / Coverage::word_bits),
          shared_high_((first + length) / Coverage::word_bits) {}
    // All of the image.
    explicit CoverageView(Coverage& coverage) noexcept : CoverageView(coverage, 0, 0) {}

    [[nodiscard]] bool test(std::size_t offset) const noexcept {
        return coverage_->test(first_ + offset);
    }
    void mark(std::size_t offset, std::size_t length) noexcept {
        coverage_->mark(first_ + offset, length, shared_low_, shared_high_);
    }
    bool mark_if_unwritten(std::size_t offset, std::size_t length) noexcept {
        return coverage_->mark_if_unwritten(first_ + offset, length, shared_low_, shared_high_);
    }

  private:
    Coverage* coverage_;
    std::size_t first_;
    // The words this part may share with its neighbours.
    std::size_t shared_low_;
    std::size_t shared_high_;
};

} // namespace imgpack

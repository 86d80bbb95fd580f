#include "image/coverage.hpp"

#include <utility>

namespace imgpack {

namespace {

using Word = Coverage::Word;
constexpr Word all_bits = ~Word{0};

// The bits of a word from bit `from` on (below word_bits).
constexpr Word bits_from(std::size_t from) noexcept {
    return all_bits << from;
}

// The bits of a word up to and including bit `last` (below word_bits).
constexpr Word bits_through(std::size_t last) noexcept {
    return all_bits >> (Coverage::word_bits - 1 - last);
}

} // namespace

std::optional<Coverage> Coverage::allocate(std::size_t size) noexcept {
    // Fresh pages are zeroed: nothing written yet, at no cost for the pages
    // a small image never touches.
    auto pages = platform::Pages::allocate(bytes_for(size));
    if (!pages) {
        return std::nullopt;
    }
    return Coverage(std::move(*pages), size);
}

bool Coverage::any(std::size_t offset, std::size_t length) const noexcept {
    if (length == 0) {
        return false;
    }
    const std::size_t last = offset + length - 1;
    const std::size_t first_word = offset / word_bits;
    const std::size_t last_word = last / word_bits;
    if (first_word == last_word) {
        return (load(first_word) & bits_from(offset % word_bits) &
                bits_through(last % word_bits)) != 0;
    }
    Word seen = load(first_word) & bits_from(offset % word_bits);
    for (std::size_t word = first_word + 1; word < last_word; ++word) {
        seen |= load(word);
    }
    seen |= load(last_word) & bits_through(last % word_bits);
    return seen != 0;
}

bool Coverage::mark_if_unwritten(std::size_t offset, std::size_t length, std::size_t shared_low,
                                 std::size_t shared_high) noexcept {
    const std::size_t last = offset + length - 1;
    const std::size_t word = offset / word_bits;
    if (length == 0 || word != last / word_bits) {
        if (any(offset, length)) {
            return false;
        }
        mark(offset, length, shared_low, shared_high);
        return true;
    }
    const Word mask = bits_from(offset % word_bits) & bits_through(last % word_bits);
    std::atomic_ref<Word> bits_of_word(words()[word]);
    const Word before = bits_of_word.load(std::memory_order_relaxed);
    if ((before & mask) != 0) {
        return false;
    }
    if (word == shared_low || word == shared_high) {
        bits_of_word.fetch_or(mask, std::memory_order_relaxed);
    } else {
        bits_of_word.store(before | mask, std::memory_order_relaxed);
    }
    return true;
}

void Coverage::mark(std::size_t offset, std::size_t length, std::size_t shared_low,
                    std::size_t shared_high) noexcept {
    if (length == 0) {
        return;
    }
    const std::size_t last = offset + length - 1;
    const std::size_t first_word = offset / word_bits;
    const std::size_t last_word = last / word_bits;
    for (std::size_t word = first_word; word <= last_word; ++word) {
        Word mask = all_bits;
        if (word == first_word) {
            mask &= bits_from(offset % word_bits);
        }
        if (word == last_word) {
            mask &= bits_through(last % word_bits);
        }
        std::atomic_ref<Word> bits_of_word(words()[word]);
        if (word == shared_low || word == shared_high) {
            bits_of_word.fetch_or(mask, std::memory_order_relaxed);
        } else {
            bits_of_word.store(bits_of_word.load(std::memory_order_relaxed) | mask,
                               std::memory_order_relaxed);
        }
    }
}

} // namespace imgpack

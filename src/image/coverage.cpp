#include "image/coverage.hpp"

#include "platform/platform.hpp"

#include <algorithm>
#include <utility>

namespace imgpack {

namespace {

// The bits of a word from bit `from` up to (not including) bit `to`.
Coverage::Word bits(std::size_t from, std::size_t to) noexcept {
    const Coverage::Word below_to =
        to >= Coverage::word_bits ? ~Coverage::Word{0} : (Coverage::Word{1} << to) - 1;
    return below_to & ~((Coverage::Word{1} << from) - 1);
}

} // namespace

std::optional<Coverage> Coverage::allocate(std::size_t size) noexcept {
    if (size == 0) {
        return Coverage(nullptr, 0);
    }
    // Fresh pages are zeroed: nothing written yet, at no cost for the pages
    // a small image never touches.
    auto* words = reinterpret_cast<Word*>(platform::allocate_pages(bytes_for(size)));
    if (words == nullptr) {
        return std::nullopt;
    }
    return Coverage(words, size);
}

Coverage::Coverage(Coverage&& other) noexcept
    : words_(std::exchange(other.words_, nullptr)), size_(std::exchange(other.size_, 0)) {}

Coverage& Coverage::operator=(Coverage&& other) noexcept {
    if (this != &other) {
        release();
        words_ = std::exchange(other.words_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

Coverage::~Coverage() {
    release();
}

void Coverage::release() noexcept {
    if (words_ != nullptr) {
        platform::release_pages(reinterpret_cast<std::uint8_t*>(words_), bytes_for(size_));
        words_ = nullptr;
        size_ = 0;
    }
}

bool Coverage::any(std::size_t offset, std::size_t length) const noexcept {
    const std::size_t end = offset + length;
    for (std::size_t at = offset; at < end;) {
        const std::size_t word = at / word_bits;
        const std::size_t next = (word + 1) * word_bits;
        const std::size_t to = std::min(end, next);
        if ((load(word) & bits(at % word_bits, to - word * word_bits)) != 0) {
            return true;
        }
        at = to;
    }
    return false;
}

void Coverage::mark(std::size_t offset, std::size_t length) noexcept {
    const std::size_t end = offset + length;
    for (std::size_t at = offset; at < end;) {
        const std::size_t word = at / word_bits;
        const std::size_t next = (word + 1) * word_bits;
        const std::size_t to = std::min(end, next);
        std::atomic_ref<Word>(words_[word])
            .fetch_or(bits(at % word_bits, to - word * word_bits), std::memory_order_relaxed);
        at = to;
    }
}

} // namespace imgpack

#include "memory_input.hpp"

#include <algorithm>
#include <new>

namespace imgpack::test {

std::ptrdiff_t MemoryInput::deliverable(std::size_t offset, std::size_t wanted) const {
    if (offset >= fail_from_) {
        return -1;
    }
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t count =
        std::min({wanted, max_read_, bytes_.size() - offset, fail_from_ - offset});
    if (offset <= throw_at_ && throw_at_ - offset < count) {
        throw std::bad_alloc();
    }
    return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t MemoryInput::read(std::span<char> dest) {
    const std::ptrdiff_t count = deliverable(position_, dest.size());
    if (count > 0) {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, dest.begin());
        position_ += static_cast<std::size_t>(count);
        delivered_ += static_cast<std::size_t>(count);
    }
    return count;
}

bool MemoryInput::rewind() {
    if (!same_as_opened()) {
        return false;
    }
    position_ = 0;
    return true;
}

std::optional<std::uint64_t> MemoryInput::regular_size() const {
    return bytes_.size();
}

std::ptrdiff_t MemoryInput::read_at(std::uint64_t offset, std::span<char> dest) const {
    const auto at = static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes_.size()));
    const std::ptrdiff_t count = deliverable(at, dest.size());
    if (count > 0) {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at), count, dest.begin());
        delivered_ += static_cast<std::size_t>(count);
    }
    return count;
}

} // namespace imgpack::test

#include "srec/byte_source.hpp"

#include <algorithm>
#include <cstdint>

namespace imgpack {

std::optional<FileSource> FileSource::open(const char* path) {
    auto file = platform::File::open_for_reading(path);
    if (!file) {
        return std::nullopt;
    }
    return FileSource(std::move(*file));
}

std::ptrdiff_t FileSource::read(std::span<char> dest) {
    return file_.read(dest);
}

bool FileSource::rewind() {
    return unchanged() && file_.rewind();
}

bool FileSource::is_same_file(const char* path) const {
    return file_.is_same_file(path);
}

std::optional<std::uint64_t> FileSource::regular_size() const {
    return file_.regular_size();
}

std::ptrdiff_t FileSource::read_at(std::uint64_t offset, std::span<char> dest) const {
    return file_.read_at(offset, dest);
}

bool RangeSource::rewind() {
    if (!file_.unchanged()) {
        return false; // and the position stays, as for any source that cannot rewind
    }
    position_ = begin_;
    return true;
}

std::ptrdiff_t RangeSource::read(std::span<char> dest) {
    if (position_ >= end_) {
        return 0;
    }
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), end_ - position_));
    const std::ptrdiff_t count = file_.read_at(position_, dest.first(wanted));
    if (count > 0) {
        position_ += static_cast<std::uint64_t>(count);
    }
    return count;
}

std::ptrdiff_t MemorySource::read(std::span<char> dest) {
    if (position_ >= fail_at_) {
        return -1;
    }
    const std::size_t limit =
        std::min({dest.size(), max_read_, bytes_.size() - position_, fail_at_ - position_});
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), limit, dest.begin());
    position_ += limit;
    return static_cast<std::ptrdiff_t>(limit);
}

bool MemorySource::rewind() {
    if (!rewindable_) {
        return false;
    }
    position_ = 0;
    return true;
}

} // namespace imgpack

#include "srec/byte_source.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imgpack {

bool UniqueFd::close() noexcept {
    if (fd_ < 0) {
        return true;
    }
    // The descriptor is gone after close() even when it reports an error, so
    // it is never retried.
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0;
}

void UniqueFd::reset() noexcept {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}

std::optional<FileSource> FileSource::open(const char* path) {
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return FileSource(std::move(fd));
}

std::ptrdiff_t FileSource::read(std::span<char> dest) {
    for (;;) {
        const ssize_t count = ::read(fd_.get(), dest.data(), dest.size());
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

bool FileSource::rewind() {
    return ::lseek(fd_.get(), 0, SEEK_SET) == 0;
}

bool FileSource::is_same_file(const char* path) const {
    struct stat other {};
    struct stat self {};
    if (::stat(path, &other) != 0 || ::fstat(fd_.get(), &self) != 0) {
        return false;
    }
    return other.st_dev == self.st_dev && other.st_ino == self.st_ino;
}

std::optional<std::uint64_t> FileSource::regular_size() const {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::ptrdiff_t FileSource::read_at(std::uint64_t offset, std::span<char> dest) const {
    for (;;) {
        const ssize_t count =
            ::pread(fd_.get(), dest.data(), dest.size(), static_cast<off_t>(offset));
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
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

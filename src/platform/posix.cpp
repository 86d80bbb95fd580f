// Linux and other POSIX systems: descriptors, raw reads and writes, and
// anonymous mappings for the image.

#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace imgpack::platform {

namespace {

// Inputs of 2 GiB and more on 32-bit systems need 64-bit file offsets
// (_FILE_OFFSET_BITS=64, which the build sets).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");
// Files with times after January 2038 need a 64-bit time_t (_TIME_BITS=64):
// with a 32-bit one, fstat refuses them.
static_assert(sizeof(time_t) == 8, "64-bit times");

} // namespace

struct File::Native {
    int fd = -1; // -1 once closed
};

// The memory comes first, so that running out of it leaves no descriptor open.
File::File() : native_(std::make_unique<Native>()) {}

File::File(File&& other) noexcept = default;

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::move(other.native_);
    }
    return *this;
}

File::~File() {
    close();
}

std::optional<File> File::open_for_reading(const char* path) {
    File file;
    file.native_->fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (file.native_->fd < 0 || ::fstat(file.native_->fd, &info) != 0) {
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR; // opening a directory for reading succeeds, but it has no lines
        return std::nullopt;
    }
    return file;
}

std::optional<File> File::create_for_writing(const char* path) {
    // 0666 less the umask: the platform's default for a new file.
    File file;
    file.native_->fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file.native_->fd < 0) {
        return std::nullopt;
    }
    return file;
}

std::ptrdiff_t File::read(std::span<char> dest) {
    for (;;) {
        const ssize_t count = ::read(native_->fd, dest.data(), dest.size());
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

std::ptrdiff_t File::read_at(std::uint64_t offset, std::span<char> dest) const {
    for (;;) {
        const ssize_t count =
            ::pread(native_->fd, dest.data(), dest.size(), static_cast<off_t>(offset));
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

bool File::rewind() {
    return ::lseek(native_->fd, 0, SEEK_SET) == 0;
}

std::optional<std::uint64_t> File::regular_size() const {
    struct stat info {};
    if (::fstat(native_->fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<FileState> File::state() const {
    struct stat info {};
    if (::fstat(native_->fd, &info) != 0) {
        return std::nullopt;
    }
    constexpr std::int64_t ns_per_second = 1'000'000'000;
    return FileState{static_cast<std::uint64_t>(info.st_size),
                     std::int64_t{info.st_mtim.tv_sec} * ns_per_second + info.st_mtim.tv_nsec,
                     std::int64_t{info.st_ctim.tv_sec} * ns_per_second + info.st_ctim.tv_nsec};
}

bool File::is_same_file(const char* path) const {
    struct stat other {};
    struct stat self {};
    if (::stat(path, &other) != 0 || ::fstat(native_->fd, &self) != 0) {
        return false;
    }
    return other.st_dev == self.st_dev && other.st_ino == self.st_ino;
}

bool File::write_all(std::span<const std::uint8_t> bytes) {
    // Linux writes at most about 2 GiB per call; ask for at most 1 GiB.
    constexpr std::size_t max_chunk = std::size_t{1} << 30;
    while (!bytes.empty()) {
        const ssize_t written =
            ::write(native_->fd, bytes.data(), std::min(bytes.size(), max_chunk));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            // A device that takes nothing more reports no error of its own;
            // without one, the message would show an earlier call's reason.
            errno = ENOSPC;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool File::truncate() noexcept {
    const int saved = errno;
    const bool cut = ::ftruncate(native_->fd, 0) == 0;
    errno = saved;
    return cut;
}

std::optional<File> File::duplicate() const noexcept {
    try {
        File copy;
        copy.native_->fd = ::fcntl(native_->fd, F_DUPFD_CLOEXEC, 0);
        if (copy.native_->fd < 0) {
            return std::nullopt;
        }
        return copy;
    } catch (const std::bad_alloc&) {
        return std::nullopt; // nothing was duplicated yet
    }
}

bool File::close() {
    if (!native_ || native_->fd < 0) {
        return true;
    }
    // The descriptor is gone after close() even when it reports an error, so
    // it is never retried.
    return ::close(std::exchange(native_->fd, -1)) == 0;
}

std::uint8_t* allocate_pages(std::size_t size) noexcept {
    void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        return nullptr;
    }
#ifdef MADV_HUGEPAGE
    // Fewer page faults and TLB misses while presetting and filling a large
    // image; merely advice, so its result does not matter.
    constexpr std::size_t huge_page_size = std::size_t{2} << 20;
    if (size >= huge_page_size) {
        ::madvise(pages, size, MADV_HUGEPAGE);
    }
#endif
    return static_cast<std::uint8_t*>(pages);
}

void release_pages(std::uint8_t* pages, std::size_t size) noexcept {
    ::munmap(pages, size);
}

std::string last_error_message() {
    return std::strerror(errno);
}

void print(std::string_view text) noexcept {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_error(std::string_view text) noexcept {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

std::vector<std::string> start_program(int argc, char** argv) {
    return {argv, argv + argc};
}

} // namespace imgpack::platform

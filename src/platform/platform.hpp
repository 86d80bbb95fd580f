#pragma once

// Everything that differs between the platforms imgpack runs on: files,
// memory for the image, the command line and standard output. One
// implementation per platform (posix.cpp, windows.cpp); the rest of the
// program does not know which one it runs on. File names are UTF-8.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace imgpack::platform {

// What tells one version of a file from another: a rewrite changes the
// modification and change times even where it keeps the size.
struct FileState {
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0; // nanoseconds where the file system has them
    std::int64_t changed_ns = 0;  // status change (POSIX ctime, NTFS ChangeTime)
    friend bool operator==(const FileState&, const FileState&) = default;
};

// An open file, closed when it goes out of scope.
class File {
  public:
    // Opens an existing file for reading. Fails (nullopt) when it does not
    // exist, cannot be read, or is a directory. Throws std::bad_alloc when
    // there is no memory for the File; nothing is left open then.
    static std::optional<File> open_for_reading(const char* path);
    // Creates a file for writing, or empties it if it exists; a new file gets
    // the platform's default permissions. Throws as open_for_reading() does.
    static std::optional<File> create_for_writing(const char* path);

    // A moved-from File may only be closed, assigned to or destroyed.
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Reads up to dest.size() bytes at the current position. Returns the
    // number read, 0 at the end of the file, -1 on an error.
    std::ptrdiff_t read(std::span<char> dest);
    // The same at `offset`; the current position is not used. Safe to call
    // from several threads at once.
    [[nodiscard]] std::ptrdiff_t read_at(std::uint64_t offset, std::span<char> dest) const;
    // Goes back to the first byte; false (position unchanged) when the file
    // cannot be repositioned, as with a pipe.
    bool rewind();
    // The size of a regular file; nullopt for a pipe, a device and the like.
    [[nodiscard]] std::optional<std::uint64_t> regular_size() const;
    // The file's size and times now; nullopt when they cannot be had.
    [[nodiscard]] std::optional<FileState> state() const;
    // True when `path` names this very file (through a link as well).
    [[nodiscard]] bool is_same_file(const char* path) const;

    // Writes all of `bytes`; false when the platform takes less (disk full).
    bool write_all(std::span<const std::uint8_t> bytes);
    // Cuts the file to 0 bytes, so that a failed write leaves no part of what
    // was written; false when it cannot be cut (a device). The last error
    // (last_error_message()) stays that of the call before.
    bool truncate() noexcept;
    // A second handle to the same open file, which stays usable once this one
    // is closed; nullopt when none can be had, for want of memory as well.
    [[nodiscard]] std::optional<File> duplicate() const noexcept;
    // Closes the file now and reports whether that succeeded, so that a
    // failure to store what was written is noticed.
    bool close();

  private:
    // The platform's handles, defined in its own file so that this header
    // names none of them. Every File but a moved-from one has one.
    struct Native;
    File();
    std::unique_ptr<Native> native_;
};

// `size` bytes of zeroed memory for the image, straight from the system;
// nullptr when they cannot be had. Given back with release_pages().
std::uint8_t* allocate_pages(std::size_t size) noexcept;
void release_pages(std::uint8_t* pages, std::size_t size) noexcept;

// A block from allocate_pages(), given back when it goes out of scope.
class Pages {
  public:
    // `size` zeroed bytes, or nullopt when they cannot be had; a size of 0
    // is a valid, empty block.
    static std::optional<Pages> allocate(std::size_t size) noexcept {
        if (size == 0) {
            return Pages(nullptr, 0);
        }
        std::uint8_t* pages = allocate_pages(size);
        if (pages == nullptr) {
            return std::nullopt;
        }
        return Pages(pages, size);
    }

    Pages(Pages&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Pages& operator=(Pages&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;
    ~Pages() { release(); }

    [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return {data_, size_}; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

  private:
    Pages(std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    void release() noexcept {
        if (data_ != nullptr) {
            release_pages(data_, size_);
            data_ = nullptr;
            size_ = 0;
        }
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The system's description of why the last call on this thread failed
// ("No such file or directory"), for messages that name a file.
std::string last_error_message();

// Writes `text` (UTF-8) to standard output or standard error as it is; on a
// console that does not take UTF-8 bytes, as the characters they encode.
// Never throws: it ends a run that ran out of memory, too.
void print(std::string_view text) noexcept;
void print_error(std::string_view text) noexcept;

// The program's arguments as UTF-8, element 0 its own name. Sets up
// standard output for the program's messages: bytes as written, a line
// feed never turned into CR LF.
std::vector<std::string> start_program(int argc, char** argv);

} // namespace imgpack::platform

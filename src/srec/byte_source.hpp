#pragma once

#include "srec/unique_fd.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct stat;

namespace imgpack {

// Where the text input stream gets its bytes from: a file in production, a
// memory buffer in tests and fuzzing.
class ByteSource {
  public:
    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    virtual ~ByteSource() = default;

    // Reads up to dest.size() bytes. Returns the number read, 0 at the end of
    // the input and -1 on a read error.
    virtual std::ptrdiff_t read(std::span<char> dest) = 0;

    // Goes back to the first byte. Returns false, leaving the position where it
    // was, when the input cannot be repositioned (a pipe, for example).
    virtual bool rewind() = 0;

  protected:
    ByteSource(ByteSource&&) = default;
    ByteSource& operator=(ByteSource&&) = default;
};

// A file read with raw reads in large blocks.
class FileSource final : public ByteSource {
  public:
    // Opens `path` for reading. Fails (nullopt) when the file cannot be opened
    // or is a directory.
    static std::optional<FileSource> open(const char* path);

    FileSource(FileSource&&) = default;
    FileSource& operator=(FileSource&&) = default;
    ~FileSource() override = default;

    std::ptrdiff_t read(std::span<char> dest) override;
    bool rewind() override;

    // True when `path` names an existing file that is this very file (a hard
    // or symbolic link to it included).
    [[nodiscard]] bool is_same_file(const char* path) const;

  private:
    explicit FileSource(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

// Bytes held in memory, handed out in pieces of at most `max_read` bytes so
// that tests can put read boundaries wherever they like.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const char> bytes, std::size_t max_read = SIZE_MAX)
        : bytes_(bytes), max_read_(max_read == 0 ? 1 : max_read) {}
    // The source only refers to its bytes: a temporary would not outlive it.
    explicit MemorySource(std::string&&, std::size_t = SIZE_MAX) = delete;

    std::ptrdiff_t read(std::span<char> dest) override;
    bool rewind() override;

    // Makes later rewinds fail, as they do on a pipe.
    void forbid_rewind() noexcept { rewindable_ = false; }
    // Makes the read after `byte_count` more bytes report an error.
    void fail_after(std::size_t byte_count) noexcept { fail_at_ = position_ + byte_count; }

  private:
    std::span<const char> bytes_;
    std::size_t max_read_;
    std::size_t position_ = 0;
    std::size_t fail_at_ = SIZE_MAX;
    bool rewindable_ = true;
};

} // namespace imgpack

#pragma once

#include "platform/platform.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

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

// A file, read in large blocks.
class FileSource final : public ByteSource {
  public:
    // Opens `path` for reading. Fails (nullopt) when the file cannot be opened
    // or is a directory.
    static std::optional<FileSource> open(const char* path);

    FileSource(FileSource&&) = default;
    FileSource& operator=(FileSource&&) = default;
    ~FileSource() override = default;

    std::ptrdiff_t read(std::span<char> dest) override;
    // Fails, too, once the size of a regular file differs from its size when
    // it was opened: the file changed, and a second pass would not read the
    // lines that the first one checked.
    bool rewind() override;

    // False once the size of a regular file differs from its size when it was
    // opened.
    [[nodiscard]] bool unchanged() const { return file_.regular_size() == opened_size_; }

    // True when `path` names an existing file that is this very file (a hard
    // or symbolic link to it included).
    [[nodiscard]] bool is_same_file(const char* path) const;

    // The size of the file when it is a regular file; nullopt for a pipe, a
    // device and the like, which can only be read in order.
    [[nodiscard]] std::optional<std::uint64_t> regular_size() const;

    // Reads up to dest.size() bytes from `offset` on, leaving the position of
    // read() alone. Returns the number read, 0 at the end, -1 on an error.
    [[nodiscard]] std::ptrdiff_t read_at(std::uint64_t offset, std::span<char> dest) const;

  private:
    explicit FileSource(platform::File file)
        : file_(std::move(file)), opened_size_(file_.regular_size()) {}
    platform::File file_;
    std::optional<std::uint64_t> opened_size_;
};

// The bytes of a file from `begin` up to `end` (or to the end of the file),
// read with read_at(), so that several ranges of one file can be read at once.
class RangeSource final : public ByteSource {
  public:
    RangeSource(const FileSource& file, std::uint64_t begin, std::uint64_t end) noexcept
        : file_(file), begin_(begin), end_(end), position_(begin) {}

    std::ptrdiff_t read(std::span<char> dest) override;
    // Fails like FileSource::rewind() once the file changed size.
    bool rewind() override;

  private:
    const FileSource& file_;
    std::uint64_t begin_;
    std::uint64_t end_;
    std::uint64_t position_;
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

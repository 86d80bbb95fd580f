#pragma once

// An input held in memory, for the tests and the fuzz targets: read
// boundaries where a test wants them, read errors, and an input that changes
// while it is being read (and then cannot be rewound).

#include "image/input.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace imgpack::test {

class MemoryInput final : public Input {
  public:
    // Hands out `bytes` in pieces of at most `max_read` bytes.
    explicit MemoryInput(std::span<const char> bytes, std::size_t max_read = SIZE_MAX)
        : bytes_(bytes), max_read_(max_read == 0 ? 1 : max_read) {}
    // The input only refers to its bytes: a temporary would not outlive it.
    explicit MemoryInput(std::string&&, std::size_t = SIZE_MAX) = delete;

    std::ptrdiff_t read(std::span<char> dest) override;
    bool rewind() override;
    [[nodiscard]] std::optional<std::uint64_t> regular_size() const override;
    [[nodiscard]] std::ptrdiff_t read_at(std::uint64_t offset, std::span<char> dest) const override;
    [[nodiscard]] bool same_as_opened() const override { return delivered_ < changes_after_; }

    // How far read() has come: 0 after a conversion read wholly in chunks.
    [[nodiscard]] std::size_t position() const noexcept { return position_; }

    // Makes every read that reaches the byte at `offset` report an error.
    void fail_from(std::size_t offset) noexcept { fail_from_ = offset; }
    // Makes every read that would deliver the byte at `offset` throw
    // std::bad_alloc, as a pass that runs out of memory there would.
    void throw_at(std::size_t offset) noexcept { throw_at_ = offset; }
    // The input changes (same_as_opened() turns false) once `byte_count` more
    // bytes have been delivered, by read() and read_at() together.
    void change_after(std::size_t byte_count) noexcept { changes_after_ = delivered_ + byte_count; }

  private:
    // How many bytes from `offset` a read of up to `wanted` bytes delivers,
    // or -1 for an error.
    [[nodiscard]] std::ptrdiff_t deliverable(std::size_t offset, std::size_t wanted) const;

    std::span<const char> bytes_;
    std::size_t max_read_;
    std::size_t position_ = 0;
    std::size_t fail_from_ = SIZE_MAX;
    std::size_t throw_at_ = SIZE_MAX;
    std::size_t changes_after_ = SIZE_MAX;
    mutable std::atomic<std::size_t> delivered_ = 0;
};

} // namespace imgpack::test

#pragma once

#include "image/input.hpp"
#include "platform/platform.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// The input file of a conversion, read in large blocks. It remembers the
// file's size and times when it was opened, so that a file rewritten while it
// is being converted is noticed.
class FileInput final : public Input {
  public:
    // Opens `path` for reading. Fails (nullopt) when the file cannot be opened
    // or is a directory; platform::last_error_message() then tells why.
    static std::optional<FileInput> open(const char* path);

    FileInput(FileInput&&) = default;
    FileInput& operator=(FileInput&&) = default;
    ~FileInput() override = default;

    std::ptrdiff_t read(std::span<char> dest) override;
    // Fails, too, once the file is not the one that was opened: a second pass
    // would not read the lines that the first one checked.
    bool rewind() override;

    [[nodiscard]] std::optional<std::uint64_t> regular_size() const override;
    [[nodiscard]] std::ptrdiff_t read_at(std::uint64_t offset, std::span<char> dest) const override;
    [[nodiscard]] bool same_as_opened() const override;

    // True when `path` names an existing file that is this very file (a hard
    // or symbolic link to it included).
    [[nodiscard]] bool is_same_file(const char* path) const;

  private:
    explicit FileInput(platform::File file)
        : file_(std::move(file)), opened_state_(file_.state()) {}
    platform::File file_;
    std::optional<platform::FileState> opened_state_;
};

} // namespace imgpack

#pragma once

#include "srec/byte_source.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// The whole input of a conversion: a stream that, when it is a regular file,
// can also be read at any offset (so that several threads can read parts of
// it at once) and can tell whether it is still the input it was.
class Input : public ByteSource {
  public:
    // The size of an input that can be read at any offset; nullopt for one
    // that can only be read in order (a pipe, a device).
    [[nodiscard]] virtual std::optional<std::uint64_t> regular_size() const = 0;

    // Reads up to dest.size() bytes from `offset` on, leaving the position of
    // read() alone. Returns the number read, 0 at the end, -1 on an error.
    // Safe to call from several threads at once.
    [[nodiscard]] virtual std::ptrdiff_t read_at(std::uint64_t offset,
                                                 std::span<char> dest) const = 0;

    // False once the input is no longer the one that was opened: its size or
    // its modification or change time differ. Lines read before and after
    // such a change do not belong to one file.
    [[nodiscard]] virtual bool same_as_opened() const = 0;

  protected:
    Input() = default;
};

} // namespace imgpack

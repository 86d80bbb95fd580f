#pragma once

#include <cstddef>
#include <span>

namespace imgpack {

// Where the text input stream gets its bytes from.
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
    // was, when the input cannot be repositioned (a pipe, for example) or is no
    // longer the input it was.
    virtual bool rewind() = 0;

  protected:
    ByteSource(ByteSource&&) = default;
    ByteSource& operator=(ByteSource&&) = default;
};

} // namespace imgpack

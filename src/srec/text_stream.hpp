#pragma once

#include "srec/byte_source.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace imgpack {

// A line holds at most 255 characters; the buffer keeps one more byte for the
// terminating zero written after the last character read.
inline constexpr std::size_t max_line_chars = 255;
inline constexpr std::size_t line_buffer_size = max_line_chars + 1;

// One line as it lies in the stream's buffer, valid until the next read:
// `chars_before_feed` characters at `text`, then the line feed when
// `has_line_feed` is set (a CR dropped before it is in neither).
struct RawLine {
    const char* text = nullptr;
    std::size_t chars_before_feed = 0;
    bool has_line_feed = false;

    [[nodiscard]] std::size_t length() const noexcept {
        return chars_before_feed + (has_line_feed ? 1 : 0);
    }

    // Copies the line as delivered, its line feed included, into `line` and
    // writes a terminating zero after it; returns length().
    [[nodiscard]] std::size_t
    copy_terminated(std::span<char, line_buffer_size> line) const noexcept;
};

// The input file read as text, identically on every platform:
//  - a carriage return directly followed by a line feed is delivered as the
//    line feed alone; any other carriage return is an ordinary character;
//  - a byte 0x1A ends the stream for good: neither it nor anything after it
//    is ever delivered, until a rewind starts over;
//  - the stream is at its end once a read has looked for a character (or at
//    the byte after a carriage return) and met the end of the input or 0x1A.
// Bytes come from the source in large blocks; lines are cut out of the block
// without a system call or an allocation per line.
class TextStream {
  public:
    static constexpr std::size_t default_block_size = std::size_t{1} << 18;

    // `source` must outlive the stream. `block_size` is the most the stream
    // asks the source for at once.
    explicit TextStream(ByteSource& source, std::size_t block_size = default_block_size);

    // Reads the next line, up to and including its line feed but at most 255
    // characters; the rest of a longer line comes back on the next call. The
    // line stays in the stream's buffer. Returns its length (0 when none was
    // left, -1 on a read error).
    int next_line(RawLine& line) {
        // The common case, a whole line with its line feed inside a full
        // window, is handled here; everything else takes the general path.
        if (available() >= line_window) {
            const char* start = buffer_.get() + begin_;
            const std::size_t before = find_line_feed(start);
            if (before < max_line_chars) {
                begin_ += take_line_to_feed(start, before, line);
                last_line_number_ = ++complete_lines_;
                return static_cast<int>(line.length());
            }
        }
        return next_line_general(line);
    }

    [[nodiscard]] bool at_end() const noexcept { return at_end_; }

    // The lines delivered since the start that ended in a line feed.
    [[nodiscard]] std::uint64_t complete_lines() const noexcept { return complete_lines_; }
    // The number of the line (from 1) that the last read delivered, or a
    // piece of it.
    [[nodiscard]] std::uint64_t last_line_number() const noexcept { return last_line_number_; }

    // True once the stream has met a byte 0x1A, which ends the input for good.
    [[nodiscard]] bool met_end_of_text() const noexcept { return met_end_of_text_; }

    // Goes back to the first byte and clears the end state. Returns false, and
    // changes nothing, when the source cannot be repositioned.
    bool rewind();

  private:
    // Raw bytes that can make up one line: 255 characters plus a CR that is
    // dropped because a LF follows it.
    static constexpr std::size_t line_window = max_line_chars + 1;

    // The offset of the first line feed among the `line_window` bytes at
    // `start`, or line_window when there is none.
    static std::size_t find_line_feed(const char* start) noexcept;

    // Makes `line` the line at `start` that ends in the line feed `before`
    // bytes on, a CR directly before it dropped; returns the raw bytes it
    // takes. The line must fit: `before` below 255, or a CR to drop.
    static std::size_t take_line_to_feed(const char* start, std::size_t before,
                                         RawLine& line) noexcept {
        const bool crlf = before >= 1 && start[before - 1] == '\r';
        line.text = start;
        line.chars_before_feed = crlf ? before - 1 : before;
        line.has_line_feed = true;
        return before + 1;
    }

    int next_line_general(RawLine& line);

    // Makes at least a full line's worth of raw bytes (256: 255 characters and
    // a possible CR dropped before the LF) available unless the input ends
    // first. Returns false on a read error.
    bool fill_window();
    [[nodiscard]] std::size_t available() const noexcept { return end_ - begin_; }

    ByteSource& source_;
    std::size_t block_size_;
    // Not zeroed: only the bytes read into it are ever used, and a small file
    // then touches only the pages it fills.
    std::unique_ptr<char[]> buffer_; // NOLINT(modernize-avoid-c-arrays): a sized block
    std::size_t buffer_size_;
    std::size_t begin_ = 0;    // next byte to deliver
    std::size_t end_ = 0;      // end of the bytes held
    bool source_done_ = false; // end of file or 0x1A reached in the raw bytes
    bool met_end_of_text_ = false;
    bool at_end_ = false;
    std::uint64_t complete_lines_ = 0;
    std::uint64_t last_line_number_ = 0;
};

} // namespace imgpack

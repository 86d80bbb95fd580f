#include "srec/text_stream.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imgpack {

namespace {

constexpr char line_feed = '\n';
constexpr char carriage_return = '\r';
constexpr char end_of_text = '\x1a';
// Lines are copied in fixed chunks, which is much faster than a copy of
// variable length; the buffer has this much slack after its last byte so that
// the last chunk may read past the bytes held.
constexpr std::size_t copy_chunk = 32;
static_assert(line_buffer_size % copy_chunk == 0);

// Copies `length` (at most 255) bytes; may read and write up to the next
// multiple of 32, which both the block buffer's slack and the 256-byte line
// buffer allow.
void copy_line(char* line, const char* start, std::size_t length) {
    for (std::size_t offset = 0; offset < length; offset += copy_chunk) {
        std::memcpy(line + offset, start + offset, copy_chunk);
    }
}

} // namespace

std::size_t TextStream::find_line_feed(const char* start) noexcept {
#if defined(__SSE2__)
    // Records are short: sixteen bytes at a time finds the line feed of a
    // typical line in a few steps, without the set-up of a library call.
    const __m128i line_feeds = _mm_set1_epi8(line_feed);
    for (std::size_t offset = 0; offset < line_window; offset += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + offset));
        const auto mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, line_feeds)));
        if (mask != 0) {
            return offset + static_cast<std::size_t>(__builtin_ctz(mask));
        }
    }
    return line_window;
#else
    const auto* found = static_cast<const char*>(std::memchr(start, line_feed, line_window));
    return found == nullptr ? line_window : static_cast<std::size_t>(found - start);
#endif
}

TextStream::TextStream(ByteSource& source, std::size_t block_size)
    : source_(source), block_size_(std::max<std::size_t>(block_size, 1)),
      // NOLINTNEXTLINE(modernize-avoid-c-arrays): a block of run-time size, not zeroed
      buffer_(std::make_unique_for_overwrite<char[]>(block_size_ + line_window + copy_chunk)),
      buffer_size_(block_size_ + line_window + copy_chunk) {}

bool TextStream::fill_window() {
    if (available() >= line_window || source_done_) {
        return true;
    }
    // Keep the unread tail (less than one line) and append to it, so that a CR
    // at the end of one block still sees the LF at the start of the next.
    std::memmove(buffer_.get(), buffer_.get() + begin_, available());
    end_ -= begin_;
    begin_ = 0;
    while (end_ < line_window && !source_done_) {
        const std::size_t room = std::min(block_size_, buffer_size_ - copy_chunk - end_);
        const std::ptrdiff_t count = source_.read(std::span<char>(buffer_.get() + end_, room));
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            source_done_ = true;
            break;
        }
        const char* fresh = buffer_.get() + end_;
        const auto* stop = static_cast<const char*>(
            std::memchr(fresh, end_of_text, static_cast<std::size_t>(count)));
        if (stop != nullptr) {
            end_ += static_cast<std::size_t>(stop - fresh);
            source_done_ = true;
            met_end_of_text_ = true;
            break;
        }
        end_ += static_cast<std::size_t>(count);
    }
    return true;
}

int TextStream::next_line_general(RawLine& line) {
    if (!fill_window()) {
        return -1;
    }
    const std::size_t held = available();
    const char* start = buffer_.get() + begin_;
    line.text = start;
    if (held == 0) {
        at_end_ = true;
        line.chars_before_feed = 0;
        line.has_line_feed = false;
        return 0;
    }
    const std::size_t window = std::min(held, line_window);
    const auto* newline = static_cast<const char*>(std::memchr(start, line_feed, window));

    std::size_t consumed = 0;
    if (newline != nullptr) {
        const auto before = static_cast<std::size_t>(newline - start);
        if (before < max_line_chars || newline[-1] == carriage_return) {
            consumed = take_line_to_feed(start, before, line);
        } else {
            // The line feed would be the 256th character: it waits for the
            // next call, where it forms a line of its own.
            line.chars_before_feed = max_line_chars;
            line.has_line_feed = false;
            consumed = max_line_chars;
        }
    } else {
        // No line feed: either a long line, cut after 255 characters, or the
        // last line of the input.
        line.chars_before_feed = std::min(window, max_line_chars);
        line.has_line_feed = false;
        consumed = line.chars_before_feed;
        const bool ran_out = consumed == held;
        // A read that stops short of 255 characters looked for one more and met
        // the end; so did a CR in last place, whose next byte was looked at.
        if (ran_out && (consumed < max_line_chars || start[consumed - 1] == carriage_return)) {
            at_end_ = true;
        }
    }
    begin_ += consumed;
    last_line_number_ = complete_lines_ + 1;
    complete_lines_ += line.has_line_feed ? 1 : 0;
    return static_cast<int>(line.length());
}

std::size_t RawLine::copy_terminated(std::span<char, line_buffer_size> line) const noexcept {
    // `text` lies in a stream's buffer, whose slack lets the chunked copy read on.
    copy_line(line.data(), text, chars_before_feed);
    if (has_line_feed) {
        line[chars_before_feed] = line_feed;
    }
    line[length()] = '\0';
    return length();
}

bool TextStream::rewind() {
    if (!source_.rewind()) {
        return false;
    }
    begin_ = 0;
    end_ = 0;
    source_done_ = false;
    met_end_of_text_ = false;
    at_end_ = false;
    complete_lines_ = 0;
    last_line_number_ = 0;
    return true;
}

} // namespace imgpack

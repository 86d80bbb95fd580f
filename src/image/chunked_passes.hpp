#pragma once

#include "srec/byte_source.hpp"
#include "srec/text_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace imgpack {

// The two passes over a large regular file, with the work split between
// threads. Every byte after a line feed starts a new line, whatever came
// before it, so the file is cut into chunks just after line feeds and each
// chunk is read as a text input stream of its own; together they deliver
// exactly the lines of the whole file. The results are the same as those of
// preprocess_input() and fill_read_buffer() over the whole file.
class ChunkedPasses {
  public:
    // Files smaller than this are read on one thread: they would gain less
    // than starting the threads costs.
    static constexpr std::uint64_t min_file_size = std::uint64_t{4} << 20;

    // The most threads (and chunks) a run uses.
    static constexpr std::size_t max_chunks = 8;

    // Cuts `file` into one chunk per processor (at most max_chunks).
    // Returns nullopt when the file is not a regular file, is smaller than
    // min_file_size, or cannot be cut (one processor, no line feed found).
    // `file` must outlive the result.
    static std::optional<ChunkedPasses> split(const FileSource& file);

    // The preprocess pass: the span combines by min and max; the first bad
    // line in file order fails the pass, and a 0x1A ends the input, so the
    // chunks after the one that meets it are left out.
    int preprocess(std::int32_t& low, std::int32_t& high);

    // The fill pass. Where the chunks' spans do not overlap, each chunk fills
    // its own part of `buffer` at once (a record outside its part fails the
    // pass, so threads never write to the same bytes); otherwise the chunks
    // fill it one after the other in file order, so that a later record still
    // wins over an earlier one at the same address. A file whose size changed
    // since it was opened fails the pass, as it does on one thread.
    int fill(std::span<std::uint8_t> buffer, std::int32_t low);

  private:
    struct Chunk {
        Chunk(const FileSource& file, std::uint64_t begin, std::uint64_t end)
            : source(file, begin, end), stream(source) {}
        RangeSource source;
        TextStream stream; // reads `source`, so a chunk never moves
        std::int32_t low = 0;
        std::int32_t high = 0;
        int result = 0;
    };

    explicit ChunkedPasses(std::vector<std::unique_ptr<Chunk>> chunks)
        : chunks_(std::move(chunks)), used_(chunks_.size()) {}

    // The part of `buffer` that each used chunk's span covers, or nullopt when
    // two spans overlap or a span does not lie inside `buffer`.
    [[nodiscard]] std::optional<std::vector<std::span<std::uint8_t>>>
    disjoint_parts(std::span<std::uint8_t> buffer, std::int32_t low) const;

    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::size_t used_; // the chunks up to the one that met 0x1A
};

} // namespace imgpack

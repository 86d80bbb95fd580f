#pragma once

#include "image/input.hpp"
#include "image/stream_passes.hpp"
#include "srec/reader.hpp"
#include "srec/text_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace imgpack {

// The two passes over an input that can be read at any offset, with the work
// split between threads. Every byte after a line feed starts a new line,
// whatever came before it, so the input is cut into chunks just after line
// feeds and each chunk is read as a text input stream of its own; together
// they deliver exactly the lines of the whole input. The results are the same
// as those of preprocess_input() and fill_read_buffer() over the whole input.
class Chunking {
  public:
    // The most threads (and chunks) a run uses.
    static constexpr std::size_t max_chunks = 8;

    // Cuts `input` into `count` chunks of about the same size (at most
    // max_chunks). Returns nullopt when the input cannot be read at any offset
    // or cannot be cut in two (no line feed found near a cut). `input` must
    // outlive the result.
    static std::optional<Chunking> split(const Input& input, std::size_t count);

    // Cuts `input` just after the first line feed at or after each offset of
    // `cuts` (in rising order); a cut that lands on an earlier one or at the
    // end is left out. At most max_chunks chunks. (Public for the tests and
    // the fuzz target, which choose the cuts.)
    static std::optional<Chunking> split_at(const Input& input,
                                            std::span<const std::uint64_t> cuts);

    // The preprocess pass: the span combines by min and max; the first bad
    // line in file order fails the pass, and a 0x1A ends the input, so the
    // chunks after the one that meets it are left out. With `reading`, lines
    // are read as scan_srecord_checked() reads them (with its settings), and
    // `reading` gets what the chunks found, a rejected line numbered in the
    // whole input.
    int preprocess(std::int32_t& low, std::int32_t& high, CheckedReading* reading = nullptr);
    // The same with preprocess_input_extent(): `extent` gets where the
    // chunks' data records lie.
    int preprocess_extent(std::int32_t& low, std::int32_t& high, Extent& extent);

    // The fill pass. Where the chunks' spans do not overlap, each chunk fills
    // its own part of `buffer` at once (a record outside its part fails the
    // pass, so threads never write to the same bytes); otherwise the chunks
    // fill it one after the other in file order, so that a later record still
    // wins over an earlier one at the same address. An input that changed
    // since it was opened fails the pass, as it does on one thread.
    int fill(std::span<std::uint8_t> buffer, std::int32_t low, RecordOutside* outside = nullptr);

    // The fill pass with fill_read_buffer_checked(): `coverage`, when given,
    // covers all of `buffer` (check.coverage is not used). A contradiction
    // and the first record left out are the first in file order, their lines
    // numbered in the whole input. With check.clip the chunks' parts come
    // from where their records lie, which the preprocess pass must have read
    // with a CheckedReading.
    int fill_checked(std::span<std::uint8_t> buffer, std::int32_t low, Coverage* coverage,
                     FillCheck& check);

  private:
    // The bytes of the input from `begin` up to `end` (or to the end of the
    // input), read with read_at(), so that several ranges can be read at once.
    class RangeSource final : public ByteSource {
      public:
        RangeSource(const Input& input, std::uint64_t begin, std::uint64_t end) noexcept
            : input_(input), begin_(begin), end_(end), position_(begin) {}
        std::ptrdiff_t read(std::span<char> dest) override;
        // Fails, leaving the position alone, once the input changed.
        bool rewind() override;

      private:
        const Input& input_;
        std::uint64_t begin_;
        std::uint64_t end_;
        std::uint64_t position_;
    };

    struct Chunk {
        Chunk(const Input& input, std::uint64_t begin, std::uint64_t end)
            : source(input, begin, end), stream(source) {}
        RangeSource source;
        TextStream stream; // reads `source`, so a chunk never moves
        std::int32_t low = 0;
        std::int32_t high = 0;
        int result = 0;
        CheckedReading reading;
        RecordOutside outside;
        std::optional<FillCheck> check;
    };

    // The fill pass, with `fill_part(chunk, part, low)` filling one chunk's
    // part of the image (all of `buffer` where the chunks' spans overlap).
    // The preprocess pass with `preprocess_chunk(chunk)` reading each chunk;
    // `reading` and `extent`, when given, get what the chunks found.
    template <typename PreprocessChunk>
    int preprocess_with(std::int32_t& low, std::int32_t& high, CheckedReading* reading,
                        const PreprocessChunk& preprocess_chunk, Extent* extent);

    // The first chunk in file order whose last fill pass failed.
    [[nodiscard]] const Chunk& first_failed() const;

    template <typename FillPart>
    int fill_with(std::span<std::uint8_t> buffer, std::int32_t low, bool clip,
                  const FillPart& fill_part);

    explicit Chunking(std::vector<std::unique_ptr<Chunk>> chunks)
        : chunks_(std::move(chunks)), used_(chunks_.size()) {}

    // Where a chunk's records lie in the image: `offset` and `length` in it.
    struct Part {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    // The part of an image of `size` bytes from address `low` that `chunk`'s
    // records write: from its span, or with `clip` from its extent inside the
    // image. An empty part for a chunk without data bytes; nullopt when its
    // span does not lie inside the image.
    [[nodiscard]] static std::optional<Part> part_of(const Chunk& chunk, std::uint64_t size,
                                                     std::int32_t low, bool clip);

    // The part of `buffer` that each used chunk writes, or nullopt when two
    // parts overlap or a part does not lie inside `buffer`.
    [[nodiscard]] std::optional<std::vector<std::span<std::uint8_t>>>
    disjoint_parts(std::span<std::uint8_t> buffer, std::int32_t low, bool clip) const;

    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::size_t used_; // the chunks up to the one that met 0x1A
};

} // namespace imgpack

#pragma once

#include "image/chunking.hpp"
#include "image/coverage.hpp"
#include "image/input.hpp"
#include "image/stream_passes.hpp"
#include "srec/text_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace imgpack {

// How the passes may share their work between threads. The program takes
// the defaults; the tests choose the chunks.
struct Threading {
    // The most threads (and chunks); 0 for one per processor. At most
    // Chunking::max_chunks either way.
    std::size_t max_threads = 0;
    // Smaller inputs are read on one thread: they would gain less than
    // starting the threads costs.
    std::uint64_t min_split_size = std::uint64_t{4} << 20;
};

// What a pass came to: success, or why it failed, for messages that say
// more than the fixed line.
struct PassResult {
    enum class Cause {
        none,           // the pass succeeded
        bad_line,       // the reader rejected a line: `line` and `reason`
        read_error,     // reading the input failed
        cannot_reread,  // the input cannot be read a second time (a pipe)
        changed,        // the input is no longer the file that was opened
        record_outside, // a record's bytes fall outside the image: `record`
        contradiction,  // a record gives a written byte another value: `contradiction`
    };
    Cause cause = Cause::none;
    std::uint64_t line = 0; // the rejected line's number in the file, from 1
    std::string reason;     // why the line was rejected
    RecordOutside record;
    Contradiction contradiction;
    LeftOut left_out; // with a placed image, even when the pass succeeds

    [[nodiscard]] bool ok() const noexcept { return cause == Cause::none; }
};

// How the records are read and placed.
struct Reading {
    // Every line must be a whole, well-formed record, a data record from
    // 0x80000000 up is refused (unless the image is placed) and so is a byte
    // written twice with different values (when the fill pass records the
    // bytes written).
    bool strict = false;
    // A failed line is named and explained, and the records' extent found
    // (implied by strict).
    bool explain = false;
    // The caller places the image: the fill pass's `low` and buffer size say
    // where it lies, read as unsigned addresses, and record bytes outside it
    // are left out and counted (needs explain).
    bool place_image = false;
};

// The two passes over one input, on one thread or, for a large regular file,
// split between several; the results are the same either way. The fill pass
// also fails when the input is no longer the file it was when it was opened,
// at its start or at its end: its lines would not be the ones the preprocess
// pass checked.
class ImageBuilder {
  public:
    // `input` must outlive the passes.
    ImageBuilder(Input& input, Reading reading, Threading threading = {});
    // Reading strictly or by default.
    ImageBuilder(Input& input, bool strict, Threading threading = {})
        : ImageBuilder(input, Reading{strict, strict, false}, threading) {}

    // preprocess_input() over the whole input.
    PassResult preprocess(std::int32_t& low, std::int32_t& high);
    // fill_read_buffer() over the whole input. With `coverage` (as large as
    // `buffer`), every byte a record writes is marked in it, and in strict
    // mode a record that gives a written byte another value fails the pass.
    PassResult fill(std::span<std::uint8_t> buffer, std::int32_t low, Coverage* coverage = nullptr);

    // After a preprocess pass that explains: the first data record whose
    // bytes run on past 0x7FFFFFFF, which no image of the span can hold.
    [[nodiscard]] const std::optional<DataRecord>& record_past_top() const noexcept {
        return past_top_;
    }
    // After a preprocess pass that explains: where the data records lie,
    // their addresses read as unsigned.
    [[nodiscard]] const Extent& extent() const noexcept { return extent_; }

  private:
    Input& input_;
    Reading reading_;
    std::optional<Chunking> chunks_;
    std::optional<TextStream> stream_;
    std::optional<DataRecord> past_top_;
    Extent extent_;
};

} // namespace imgpack

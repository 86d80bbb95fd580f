#include "image/builder.hpp"

#include <algorithm>
#include <thread>

namespace imgpack {

namespace {

// The chunks to cut `input` into: one per thread allowed, or one for an input
// too small to gain from more.
std::size_t chunks_for(const Input& input, const Threading& threading) {
    const auto size = input.regular_size();
    if (!size || *size < threading.min_split_size) {
        return 1;
    }
    // Asked only for a large file: on some systems it reads a file itself.
    const std::size_t threads =
        threading.max_threads != 0 ? threading.max_threads : std::thread::hardware_concurrency();
    return std::min(threads, Chunking::max_chunks);
}

} // namespace

ImageBuilder::ImageBuilder(Input& input, Reading reading, Threading threading)
    : input_(input), reading_(reading) {
    reading_.explain = reading.explain || reading.strict;
    if (const std::size_t chunks = chunks_for(input, threading); chunks > 1) {
        chunks_ = Chunking::split(input, chunks);
    }
    if (!chunks_) {
        stream_.emplace(input);
    }
}

PassResult ImageBuilder::preprocess(std::int32_t& low, std::int32_t& high) {
    bool span_read_again = false;
    // Without the strict rules the default reader decides, at its own speed;
    // only a file it fails is read once more, to say which line and why.
    if (!reading_.strict) {
        int result = 0;
        if (reading_.place_image) {
            result = chunks_ ? chunks_->preprocess_extent(low, high, extent_)
                             : preprocess_input_extent(*stream_, low, high, extent_);
        } else {
            result =
                chunks_ ? chunks_->preprocess(low, high) : preprocess_input(*stream_, low, high);
        }
        // A span of the records that no image can hold is explained too: by
        // the record that runs past 0x7FFFFFFF, where there is one.
        const bool span_wraps = static_cast<std::int32_t>(static_cast<std::uint32_t>(high) -
                                                          static_cast<std::uint32_t>(low) + 1U) < 0;
        if (result == 0 && !(reading_.explain && !reading_.place_image && span_wraps)) {
            return {};
        }
        span_read_again = result == 0;
        if (!reading_.explain) {
            PassResult failed;
            failed.cause = PassResult::Cause::bad_line;
            return failed;
        }
    }
    CheckedReading checked;
    checked.strict = reading_.strict;
    checked.refuse_high_addresses = reading_.strict && !reading_.place_image;
    const int result = chunks_ ? chunks_->preprocess(low, high, &checked)
                               : preprocess_input_checked(*stream_, low, high, checked);
    past_top_ = checked.past_top;
    extent_ = checked.extent;
    if (result == 0 && (reading_.strict || span_read_again)) {
        return {};
    }
    // Read again, a pipe has nothing left and the failure nothing to name.
    PassResult failed;
    failed.cause =
        checked.reason.empty() ? PassResult::Cause::read_error : PassResult::Cause::bad_line;
    failed.line = checked.complete_lines + 1;
    failed.reason = std::move(checked.reason);
    return failed;
}

PassResult ImageBuilder::fill(std::span<std::uint8_t> buffer, std::int32_t low,
                              Coverage* coverage) {
    RecordOutside outside;
    Contradiction contradiction;
    LeftOut left_out;
    int result = 0;
    if (coverage != nullptr || reading_.place_image) {
        FillCheck check{coverage != nullptr ? std::optional(CoverageView(*coverage)) : std::nullopt,
                        reading_.strict && coverage != nullptr,
                        reading_.place_image,
                        {},
                        {},
                        {}};
        result = chunks_ ? chunks_->fill_checked(buffer, low, coverage, check)
                         : fill_read_buffer_checked(*stream_, buffer, low, check);
        outside = check.outside;
        contradiction = check.contradiction;
        left_out = check.left_out;
    } else {
        result = chunks_ ? chunks_->fill(buffer, low, &outside)
                         : fill_read_buffer(*stream_, buffer, low, &outside);
    }
    // A file rewritten during the pass may have given lines from before and
    // after the change, none of them rejected: only its state tells.
    const bool unchanged = input_.same_as_opened();
    if (result == 0 && unchanged) {
        PassResult filled;
        filled.left_out = left_out;
        return filled;
    }
    PassResult failed;
    if (!input_.regular_size()) {
        failed.cause = PassResult::Cause::cannot_reread; // a pipe: read once, and gone
    } else if (!unchanged) {
        failed.cause = PassResult::Cause::changed;
    } else if (contradiction.found()) {
        failed.cause = PassResult::Cause::contradiction;
        failed.contradiction = contradiction;
        failed.line = contradiction.line;
    } else if (outside.found()) {
        failed.cause = PassResult::Cause::record_outside;
        failed.record = outside;
    } else {
        failed.cause = PassResult::Cause::read_error;
    }
    return failed;
}

} // namespace imgpack

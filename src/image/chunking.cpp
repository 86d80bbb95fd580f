#include "image/chunking.hpp"

#include "image/stream_passes.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <numeric>
#include <thread>
#include <utility>

namespace imgpack {

namespace {

// Runs work(0) to work(count - 1), count at most max_chunks, each on a thread
// of its own but the first, which runs on the calling thread. Should a thread
// not start, its work runs here instead: slower, never wrong. No exception
// leaves it: a work that throws (memory run out) is one that did not finish,
// and false tells the pass to fail. The threads are joined however it ends.
template <typename Work> [[nodiscard]] bool run_each(std::size_t count, const Work& work) {
    std::array<bool, Chunking::max_chunks> finished{}; // each thread sets its own
    const auto guarded = [&work, &finished](std::size_t i) noexcept {
        try {
            work(i);
            finished[i] = true;
        } catch (...) {
            finished[i] = false;
        }
    };
    {
        std::array<std::jthread, Chunking::max_chunks> threads; // joined at the block's end
        for (std::size_t i = 1; i < count; ++i) {
            try {
                threads[i] = std::jthread(guarded, i);
            } catch (const std::exception&) {
                guarded(i);
            }
        }
        guarded(0);
    }
    return std::all_of(finished.begin(), finished.begin() + static_cast<std::ptrdiff_t>(count),
                       [](bool done) { return done; });
}

// The offset just after the first line feed at or after `from`, or nullopt
// when none is found within a reasonable distance (a file of very long lines
// is then read on one thread).
std::optional<std::uint64_t> next_line_start(const Input& input, std::uint64_t from) {
    constexpr std::size_t block = std::size_t{1} << 16;
    constexpr std::uint64_t max_distance = std::uint64_t{1} << 20;
    std::array<char, block> bytes; // NOLINT(cppcoreguidelines-pro-type-member-init): read fills it
    for (std::uint64_t offset = from; offset - from < max_distance; offset += block) {
        const std::ptrdiff_t count = input.read_at(offset, bytes);
        if (count <= 0) {
            return std::nullopt;
        }
        const auto* feed = static_cast<const char*>(
            std::memchr(bytes.data(), '\n', static_cast<std::size_t>(count)));
        if (feed != nullptr) {
            return offset + static_cast<std::uint64_t>(feed - bytes.data()) + 1;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<Chunking> Chunking::split(const Input& input, std::size_t count) {
    const auto size = input.regular_size();
    count = std::min(count, max_chunks);
    if (!size || count < 2) {
        return std::nullopt;
    }
    std::array<std::uint64_t, max_chunks - 1> cuts{};
    for (std::size_t i = 1; i < count; ++i) {
        cuts[i - 1] = *size / count * i;
    }
    return split_at(input, std::span(cuts).first(count - 1));
}

std::optional<Chunking> Chunking::split_at(const Input& input,
                                           std::span<const std::uint64_t> cuts) {
    const auto size = input.regular_size();
    if (!size) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> starts{0};
    for (const std::uint64_t cut : cuts.first(std::min(cuts.size(), max_chunks - 1))) {
        const auto start = next_line_start(input, std::max(cut, starts.back()));
        if (start && *start<*size&& * start> starts.back()) {
            starts.push_back(*start);
        }
    }
    if (starts.size() < 2) {
        return std::nullopt;
    }
    std::vector<std::unique_ptr<Chunk>> chunks;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        // The last chunk reads on to the end of the input, as one stream would.
        const std::uint64_t end = i + 1 < starts.size() ? starts[i + 1] : UINT64_MAX;
        chunks.push_back(std::make_unique<Chunk>(input, starts[i], end));
        chunks.back()->reading.at_file_start = i == 0;
    }
    return Chunking(std::move(chunks));
}

int Chunking::preprocess_extent(std::int32_t& low, std::int32_t& high, Extent& extent) {
    return preprocess_with(
        low, high, nullptr,
        [](Chunk& chunk) {
            return preprocess_input_extent(chunk.stream, chunk.low, chunk.high,
                                           chunk.reading.extent);
        },
        &extent);
}

int Chunking::preprocess(std::int32_t& low, std::int32_t& high, CheckedReading* reading) {
    for (auto& chunk : chunks_) {
        chunk->reading.strict = reading == nullptr || reading->strict;
        chunk->reading.refuse_high_addresses = reading == nullptr || reading->refuse_high_addresses;
    }
    return preprocess_with(
        low, high, reading,
        [reading](Chunk& chunk) {
            return reading != nullptr ? preprocess_input_checked(chunk.stream, chunk.low,
                                                                 chunk.high, chunk.reading)
                                      : preprocess_input(chunk.stream, chunk.low, chunk.high);
        },
        reading != nullptr ? &reading->extent : nullptr);
}

template <typename PreprocessChunk>
int Chunking::preprocess_with(std::int32_t& low, std::int32_t& high, CheckedReading* reading,
                              const PreprocessChunk& preprocess_chunk, Extent* extent) {
    const bool finished = run_each(chunks_.size(), [this, &preprocess_chunk](std::size_t i) {
        Chunk& chunk = *chunks_[i];
        chunk.result = preprocess_chunk(chunk);
    });
    if (!finished) {
        return -1; // as for a read error: no line to name
    }
    low = 0x7FFFFFFF;
    high = 0;
    used_ = chunks_.size();
    std::uint64_t lines_before = 0; // in the chunks before this one
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        const Chunk& chunk = *chunks_[i];
        if (chunk.result != 0) {
            if (reading != nullptr) {
                reading->reason = chunk.reading.reason;
                reading->complete_lines = lines_before + chunk.reading.complete_lines;
            }
            return -1;
        }
        low = std::min(low, chunk.low);
        high = std::max(high, chunk.high);
        if (reading != nullptr && !reading->past_top) {
            reading->past_top = chunk.reading.past_top;
        }
        if (extent != nullptr) {
            extent->add(chunk.reading.extent);
        }
        if (chunk.stream.met_end_of_text()) {
            used_ = i + 1; // nothing after the 0x1A is part of the input
            break;
        }
        lines_before += chunk.reading.complete_lines;
    }
    return 0;
}

std::optional<Chunking::Part> Chunking::part_of(const Chunk& chunk, std::uint64_t size,
                                                std::int32_t low, bool clip) {
    if (clip) {
        const Extent& extent = chunk.reading.extent;
        const std::uint64_t image_low = static_cast<std::uint32_t>(low);
        const std::uint64_t first = std::max<std::uint64_t>(extent.lowest, image_low);
        const std::uint64_t end = std::min(extent.end, image_low + size);
        if (!extent.any || first >= end) {
            return Part{};
        }
        return Part{first - image_low, end - first};
    }
    if (chunk.low > chunk.high) {
        return Part{}; // no data bytes
    }
    const std::int64_t offset = std::int64_t{chunk.low} - low;
    const auto length = static_cast<std::uint64_t>(std::int64_t{chunk.high} - chunk.low + 1);
    if (offset < 0 || static_cast<std::uint64_t>(offset) + length > size) {
        return std::nullopt;
    }
    return Part{static_cast<std::uint64_t>(offset), length};
}

std::optional<std::vector<std::span<std::uint8_t>>>
Chunking::disjoint_parts(std::span<std::uint8_t> buffer, std::int32_t low, bool clip) const {
    std::vector<Part> parts(used_);
    for (std::size_t i = 0; i < used_; ++i) {
        const auto part = part_of(*chunks_[i], buffer.size(), low, clip);
        if (!part) {
            return std::nullopt;
        }
        parts[i] = *part;
    }
    std::vector<std::size_t> order(used_);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&parts](std::size_t a, std::size_t b) { return parts[a].offset < parts[b].offset; });
    std::uint64_t covered_to = 0;
    std::vector<std::span<std::uint8_t>> spans(used_, buffer.first(0)); // empty parts too lie in it
    for (const std::size_t i : order) {
        if (parts[i].length == 0) {
            continue;
        }
        if (parts[i].offset < covered_to) {
            return std::nullopt;
        }
        spans[i] = buffer.subspan(static_cast<std::size_t>(parts[i].offset),
                                  static_cast<std::size_t>(parts[i].length));
        covered_to = parts[i].offset + parts[i].length;
    }
    return spans;
}

template <typename FillPart>
int Chunking::fill_with(std::span<std::uint8_t> buffer, std::int32_t low, bool clip,
                        const FillPart& fill_part) {
    // A chunk whose work did not finish (out of memory) counts as failed.
    for (std::size_t i = 0; i < used_; ++i) {
        chunks_[i]->result = -1;
    }
    const auto parts = disjoint_parts(buffer, low, clip);
    if (!parts) {
        for (std::size_t i = 0; i < used_; ++i) {
            Chunk& chunk = *chunks_[i];
            chunk.result = fill_part(chunk, buffer, low);
            if (chunk.result != 0) {
                return -1;
            }
        }
        return 0;
    }
    const bool finished = run_each(used_, [this, &parts, &fill_part, buffer, low](std::size_t i) {
        Chunk& chunk = *chunks_[i];
        const std::span<std::uint8_t> part = (*parts)[i];
        // The address of the part's first byte, in the same 32-bit arithmetic.
        const auto offset = static_cast<std::uint32_t>(part.data() - buffer.data());
        const auto part_low = static_cast<std::int32_t>(static_cast<std::uint32_t>(low) + offset);
        chunk.result = fill_part(chunk, part, part_low);
    });
    if (!finished) {
        return -1;
    }
    for (std::size_t i = 0; i < used_; ++i) {
        if (chunks_[i]->result != 0) {
            return -1;
        }
    }
    return 0;
}

const Chunking::Chunk& Chunking::first_failed() const {
    const auto failed =
        std::find_if(chunks_.begin(), chunks_.begin() + static_cast<std::ptrdiff_t>(used_),
                     [](const auto& chunk) { return chunk->result != 0; });
    assert(failed != chunks_.begin() + static_cast<std::ptrdiff_t>(used_));
    return **failed;
}

int Chunking::fill(std::span<std::uint8_t> buffer, std::int32_t low, RecordOutside* outside) {
    for (std::size_t i = 0; i < used_; ++i) {
        chunks_[i]->outside = {};
    }
    const int result =
        fill_with(buffer, low, false, [](Chunk& chunk, auto part, std::int32_t part_low) {
            return fill_read_buffer(chunk.stream, part, part_low, &chunk.outside);
        });
    if (result != 0 && outside != nullptr) {
        *outside = first_failed().outside;
    }
    return result;
}

int Chunking::fill_checked(std::span<std::uint8_t> buffer, std::int32_t low, Coverage* coverage,
                           FillCheck& check) {
    for (std::size_t i = 0; i < used_; ++i) {
        chunks_[i]->check.emplace(
            FillCheck{std::nullopt, check.refuse_contradictions, check.clip, {}, {}, {}});
    }
    const int result =
        fill_with(buffer, low, check.clip, [&](Chunk& chunk, auto part, std::int32_t part_low) {
            if (coverage != nullptr) {
                chunk.check->coverage = CoverageView(
                    *coverage, static_cast<std::size_t>(part.data() - buffer.data()), part.size());
            }
            return fill_read_buffer_checked(chunk.stream, part, part_low, *chunk.check);
        });
    // Lines are numbered in the whole input: every chunk before the one that
    // failed read all of its lines.
    std::uint64_t lines_before = 0;
    for (std::size_t i = 0; i < used_; ++i) {
        const Chunk& chunk = *chunks_[i];
        if (LeftOut left_out = chunk.check->left_out; left_out.found()) {
            left_out.line += lines_before;
            check.left_out.add(left_out);
        }
        if (result != 0 && &chunk == &first_failed()) {
            check.outside = chunk.check->outside;
            check.contradiction = chunk.check->contradiction;
            if (check.contradiction.found()) {
                check.contradiction.line += lines_before;
            }
            break;
        }
        lines_before += chunk.stream.complete_lines();
    }
    return result;
}

bool Chunking::RangeSource::rewind() {
    if (!input_.same_as_opened()) {
        return false; // and the position stays, as for any source that cannot rewind
    }
    position_ = begin_;
    return true;
}

std::ptrdiff_t Chunking::RangeSource::read(std::span<char> dest) {
    if (position_ >= end_) {
        return 0;
    }
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), end_ - position_));
    const std::ptrdiff_t count = input_.read_at(position_, dest.first(wanted));
    if (count > 0) {
        position_ += static_cast<std::uint64_t>(count);
    }
    return count;
}

} // namespace imgpack

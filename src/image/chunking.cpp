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
        chunks.back()->strict.at_file_start = i == 0;
    }
    return Chunking(std::move(chunks));
}

int Chunking::preprocess(std::int32_t& low, std::int32_t& high, StrictReading* strict) {
    for (auto& chunk : chunks_) {
        chunk->strict.refuse_high_addresses = strict == nullptr || strict->refuse_high_addresses;
    }
    const bool finished = run_each(chunks_.size(), [this, strict](std::size_t i) {
        Chunk& chunk = *chunks_[i];
        chunk.result = strict != nullptr ? preprocess_input_strictly(chunk.stream, chunk.low,
                                                                     chunk.high, chunk.strict)
                                         : preprocess_input(chunk.stream, chunk.low, chunk.high);
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
            if (strict != nullptr) {
                strict->reason = chunk.strict.reason;
                strict->complete_lines = lines_before + chunk.strict.complete_lines;
            }
            return -1;
        }
        low = std::min(low, chunk.low);
        high = std::max(high, chunk.high);
        if (strict != nullptr && !strict->past_top) {
            strict->past_top = chunk.strict.past_top;
        }
        if (chunk.stream.met_end_of_text()) {
            used_ = i + 1; // nothing after the 0x1A is part of the input
            break;
        }
        lines_before += chunk.strict.complete_lines;
    }
    return 0;
}

std::optional<std::vector<std::span<std::uint8_t>>>
Chunking::disjoint_parts(std::span<std::uint8_t> buffer, std::int32_t low) const {
    std::vector<std::span<std::uint8_t>> parts(used_);
    std::vector<std::size_t> order(used_);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [this](std::size_t a, std::size_t b) { return chunks_[a]->low < chunks_[b]->low; });
    std::int64_t covered_to = std::int64_t{low} - 1;
    for (const std::size_t i : order) {
        const Chunk& chunk = *chunks_[i];
        if (chunk.low > chunk.high) {
            continue; // no data bytes: an empty part
        }
        const std::int64_t offset = std::int64_t{chunk.low} - low;
        const std::int64_t length = std::int64_t{chunk.high} - chunk.low + 1;
        if (chunk.low <= covered_to || offset < 0 ||
            offset + length > static_cast<std::int64_t>(buffer.size())) {
            return std::nullopt;
        }
        parts[i] =
            buffer.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
        covered_to = chunk.high;
    }
    return parts;
}

template <typename FillPart>
int Chunking::fill_with(std::span<std::uint8_t> buffer, std::int32_t low,
                        const FillPart& fill_part) {
    // A chunk whose work did not finish (out of memory) counts as failed.
    for (std::size_t i = 0; i < used_; ++i) {
        chunks_[i]->result = -1;
    }
    const auto parts = disjoint_parts(buffer, low);
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
    const bool finished = run_each(used_, [this, &parts, &fill_part](std::size_t i) {
        Chunk& chunk = *chunks_[i];
        chunk.result = fill_part(chunk, (*parts)[i], chunk.low);
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
    const int result = fill_with(buffer, low, [](Chunk& chunk, auto part, std::int32_t part_low) {
        return fill_read_buffer(chunk.stream, part, part_low, &chunk.outside);
    });
    if (result != 0 && outside != nullptr) {
        *outside = first_failed().outside;
    }
    return result;
}

int Chunking::fill_checked(std::span<std::uint8_t> buffer, std::int32_t low, Coverage& coverage,
                           FillCheck& check) {
    for (std::size_t i = 0; i < used_; ++i) {
        chunks_[i]->check.emplace(
            FillCheck{CoverageView(coverage), check.refuse_contradictions, {}, {}});
    }
    const int result = fill_with(buffer, low, [&](Chunk& chunk, auto part, std::int32_t part_low) {
        chunk.check->coverage = CoverageView(
            coverage, static_cast<std::size_t>(part.data() - buffer.data()), part.size());
        return fill_read_buffer_checked(chunk.stream, part, part_low, *chunk.check);
    });
    if (result != 0) {
        const Chunk& failed = first_failed();
        check.outside = failed.check->outside;
        check.contradiction = failed.check->contradiction;
        if (check.contradiction.found()) {
            // Every chunk before the first that failed read all of its lines.
            for (std::size_t i = 0; chunks_[i].get() != &failed; ++i) {
                check.contradiction.line += chunks_[i]->stream.complete_lines();
            }
        }
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

// The passes where the binary cannot reach them: records outside the buffer,
// read errors in the second pass only, an input that changes while it is
// converted, chunks in any number and at any cut, and the file layer's
// positioned reads.

#include "image/two_passes.hpp"
#include "memory_input.hpp"
#include "platform/file_source.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::MemoryInput;

// `count` S3 records of 16 bytes at rising addresses from `first`, each byte
// the low byte of its record's number, with correct checksums.
std::string records(unsigned count, unsigned first = 0) {
    std::string text;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned address = first + i * 16;
        const unsigned byte = i & 0xFFU;
        unsigned sum = 0x15 + byte * 16;
        for (unsigned shift = 0; shift < 32; shift += 8) {
            sum += (address >> shift) & 0xFFU;
        }
        std::array<char, 16> field{};
        std::snprintf(field.data(), field.size(), "S315%08X", address);
        text += field.data();
        std::snprintf(field.data(), field.size(), "%02X", byte);
        for (int b = 0; b < 16; ++b) {
            text += field.data();
        }
        std::snprintf(field.data(), field.size(), "%02X\n", ~sum & 0xFFU);
        text += field.data();
    }
    return text;
}

struct Outcome {
    int preprocessed = -1;
    std::int32_t low = 0;
    std::int32_t high = 0;
    int filled = -1;
    Bytes image;
    PassProblem::Cause cause = PassProblem::Cause::none;
    std::uint64_t line = 0;
    bool operator==(const Outcome&) const = default;
};

// A whole conversion of `input` in memory, on one thread or in `threads` chunks.
Outcome convert(MemoryInput& input, std::size_t threads, bool strict = false,
                const std::function<void()>& between_passes = {}) {
    TwoPasses passes(input, strict, Threading{threads, 0});
    Outcome outcome;
    outcome.preprocessed = passes.preprocess(outcome.low, outcome.high);
    outcome.cause = passes.problem().cause;
    outcome.line = passes.problem().line;
    if (outcome.preprocessed != 0) {
        return outcome;
    }
    outcome.image.assign(static_cast<std::size_t>(outcome.high - outcome.low + 1), 0xFF);
    if (between_passes) {
        between_passes();
    }
    outcome.filled = passes.fill(outcome.image, outcome.low);
    outcome.cause = passes.problem().cause;
    if (outcome.filled != 0) {
        outcome.image.clear(); // what a failed pass leaves is not part of its result
    }
    return outcome;
}

TEST(FillReadBuffer, RefusesARecordOutsideTheBufferAndWritesNothingOutside) {
    // Eight bytes at 0x10, but a buffer of seven: the file grew after the
    // first pass. Each low address puts the record past one end or the other.
    const std::string input = "S10B00100001020304050607FF\n";
    for (const std::int32_t low : {0x10, 0x11, 0x0A, 0x7FFFFFFF}) {
        MemoryInput source(input);
        TextStream stream(source);
        Bytes guarded(9, 0xEE);
        const std::span<std::uint8_t> buffer(guarded.data() + 1, 7);
        RecordOutside outside;
        EXPECT_EQ(fill_read_buffer(stream, buffer, low, &outside), -1) << low;
        EXPECT_EQ(guarded, Bytes(9, 0xEE)) << "nothing written for low " << low;
        EXPECT_EQ(outside.address, 0x10);
        EXPECT_EQ(outside.data_length, 8);
    }
    MemoryInput source(input);
    TextStream stream(source);
    Bytes exact(8, 0xFF);
    EXPECT_EQ(fill_read_buffer(stream, exact, 0x10), 0);
    EXPECT_EQ(exact, (Bytes{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(TwoPasses, FailOnAReadErrorOrAPipeInTheSecondPassOnly) {
    const std::string input = records(100);
    for (const std::size_t threads : {1U, 3U}) {
        MemoryInput failing(input, 64);
        const Outcome read_error =
            convert(failing, threads, false, [&failing] { failing.fail_from(1000); });
        EXPECT_EQ(read_error.preprocessed, 0);
        EXPECT_EQ(read_error.filled, -1) << threads;
        EXPECT_EQ(read_error.cause, PassProblem::Cause::read_error) << threads;
    }
    MemoryInput pipe(input);
    pipe.make_pipe();
    const Outcome piped = convert(pipe, 3);
    EXPECT_EQ(piped.high, 100 * 16 - 1);
    EXPECT_EQ(piped.filled, -1);
    EXPECT_EQ(piped.cause, PassProblem::Cause::cannot_reread);
}

// The input changes right after the first pass (the fill pass's rewind must
// notice) or while the fill pass reads its last bytes (only the check at its
// end can): either way the fill pass fails, on one thread and in chunks.
TEST(TwoPasses, FillFailsWhenTheInputChangedAtItsStartOrEnd) {
    const std::string input = records(200);
    for (const std::size_t threads : {1U, 3U, 8U}) {
        for (const bool at_the_end : {false, true}) {
            MemoryInput source(input, 100);
            const Outcome outcome = convert(source, threads, false, [&] {
                source.change_after(at_the_end ? input.size() : 0);
            });
            EXPECT_EQ(outcome.preprocessed, 0);
            EXPECT_EQ(outcome.filled, -1)
                << threads << (at_the_end ? " at the end" : " at the start");
            EXPECT_EQ(outcome.cause, PassProblem::Cause::changed);
        }
        MemoryInput unchanged(input, 100);
        EXPECT_EQ(convert(unchanged, threads).filled, 0);
    }
}

// Cut into three and eight chunks, the passes give what one stream gives:
// spans, images, the first bad line in file order, and nothing after a 0x1A.
TEST(TwoPasses, ChunksGiveWhatOneStreamGives) {
    const std::string block = records(50, 0x1000);
    const std::string later = records(50, 0x0800); // overlaps nothing, lower addresses
    const std::string overlapping = records(50, 0x1100);
    const std::vector<std::pair<const char*, std::string>> inputs{
        {"disjoint", block + later},
        {"overlapping: later records win", block + overlapping + later},
        {"0x1A in a middle chunk, a bad line after it", block + "S9030000FC\x1a" + later + "X\n"},
        {"a bad line in the last chunk", block + later + "S5030001FB\n"},
        {"a bad line in the first chunk", "S1\n" + block + later},
        {"a record that ends past 0x7FFFFFFF", block + "S3097FFFFFFE0102030471\n" + later},
        {"records above 0x80000000", records(40, 0xFFFF0000) + records(40, 0xFFFE0000)},
    };
    for (const auto& [name, input] : inputs) {
        for (const bool strict : {false, true}) {
            MemoryInput one(input);
            const Outcome expected = convert(one, 1, strict);
            for (const std::size_t threads : {3U, 8U}) {
                MemoryInput chunked(input, 97);
                EXPECT_EQ(convert(chunked, threads, strict), expected)
                    << name << ", " << threads << " chunks" << (strict ? ", strict" : "");
            }
        }
    }
}

TEST(TwoPasses, StrictModeNamesTheFirstBadLineOfTheFileWhateverTheChunk) {
    std::string input = records(300);
    const std::size_t line_length = input.size() / 300;
    input.replace(250 * line_length + 10, 1, "G"); // line 251, in the last quarter
    input.replace(280 * line_length + 10, 1, "G"); // a later one
    for (const std::size_t threads : {1U, 3U, 8U}) {
        MemoryInput source(input);
        const Outcome outcome = convert(source, threads, true);
        EXPECT_EQ(outcome.preprocessed, -1);
        EXPECT_EQ(outcome.cause, PassProblem::Cause::bad_line);
        EXPECT_EQ(outcome.line, 251U) << threads << " chunks";
    }
}

// --- the file layer ------------------------------------------------------------

class FileTest : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(path_); }
    void write(const std::string& text) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    std::filesystem::path path_ =
        std::filesystem::temp_directory_path() /
        ("imgpack_test_" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

// A rewrite that keeps the size still changes the file's times.
TEST_F(FileTest, ARewriteOfTheSameSizeIsNoticed) {
    const std::string input = records(10);
    write(input);
    auto file = FileSource::open(path_.string().c_str());
    ASSERT_TRUE(file);
    TwoPasses passes(*file, false);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_EQ(passes.preprocess(low, high), 0);
    std::string rewritten = input;
    rewritten[13] = '1';
    write(rewritten);
    std::filesystem::last_write_time(path_, std::filesystem::last_write_time(path_) +
                                                std::chrono::seconds(2));
    EXPECT_FALSE(file->same_as_opened());
    Bytes image(160, 0xFF);
    EXPECT_EQ(passes.fill(image, low), -1);
    EXPECT_EQ(passes.problem().cause, PassProblem::Cause::changed);
}

TEST_F(FileTest, PositionedReadsReachPast4GiBAndLeaveTheStreamPositionAlone) {
    write("S0030000FC\n");
    std::filesystem::resize_file(path_, (std::uint64_t{5} << 30) + 2); // sparse: costs no disk
    {
        std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(std::uint64_t{5} << 30));
        file << "S9";
    }
    auto file = FileSource::open(path_.string().c_str());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->regular_size(), (std::uint64_t{5} << 30) + 2);
    std::array<char, 4> bytes{};
    ASSERT_EQ(file->read(std::span(bytes).first(2)), 2);
    ASSERT_EQ(file->read_at(std::uint64_t{5} << 30, bytes), 2);
    EXPECT_EQ(std::string(bytes.data(), 2), "S9");
    ASSERT_EQ(file->read(std::span(bytes).first(2)), 2);
    EXPECT_EQ(std::string(bytes.data(), 2), "03") << "read() goes on where it was";
}

} // namespace
} // namespace imgpack

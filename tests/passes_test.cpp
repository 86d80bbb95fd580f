// The passes where the binary cannot reach them: records outside the buffer,
// read errors in the second pass only, an input that changes while it is
// converted, chunks in any number and at any cut, and the file layer's
// positioned reads.

#include "cli/reasons.hpp"
#include "image/builder.hpp"
#include "image/file_input.hpp"
#include "memory_input.hpp"

#include <array>
#include <chrono>
#include <csignal>
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

// `count` S3 records of 16 bytes at rising addresses from `first`, with
// correct checksums; the bytes of record i are all (i % 16) * 0x11.
std::string records(unsigned count, unsigned first = 0) {
    std::string text;
    std::array<char, 48> line{};
    for (unsigned i = 0; i < count; ++i) {
        const unsigned address = first + i * 16;
        const unsigned sum = 0x15 + 16 * (i % 16) * 0x11 + (address >> 24) +
                             ((address >> 16) & 0xFFU) + ((address >> 8) & 0xFFU) +
                             (address & 0xFFU);
        const std::string data(32, "0123456789ABCDEF"[i % 16]);
        std::snprintf(line.data(), line.size(), "S315%08X%s%02X\n", address, data.c_str(),
                      ~sum & 0xFFU);
        text += line.data();
    }
    return text;
}

struct Outcome {
    int preprocessed = -1;
    std::int32_t low = 0;
    std::int32_t high = 0;
    int filled = -1;
    Bytes image;
    PassResult::Cause cause = PassResult::Cause::none;
    std::uint64_t line = 0;
    std::string reason;
    bool operator==(const Outcome&) const = default;
};

// A whole conversion of `input` in memory, on one thread or in `threads` chunks.
Outcome convert(MemoryInput& input, std::size_t threads, bool strict = false,
                const std::function<void()>& between_passes = {}) {
    ImageBuilder passes(input, strict, Threading{threads, 0});
    Outcome outcome;
    const PassResult preprocessed = passes.preprocess(outcome.low, outcome.high);
    if (!preprocessed.ok()) {
        return {-1,
                0,
                0,
                -1,
                {},
                preprocessed.cause,
                preprocessed.line,
                preprocessed.reason}; // and no span then
    }
    outcome.preprocessed = 0;
    outcome.image.assign(static_cast<std::size_t>(outcome.high - outcome.low + 1), 0xFF);
    if (between_passes) {
        between_passes();
    }
    // Strict mode records the bytes written, to refuse contradicting records.
    auto coverage = Coverage::allocate(outcome.image.size());
    const PassResult filled =
        passes.fill(outcome.image, outcome.low, strict ? &*coverage : nullptr);
    EXPECT_EQ(input.position() == 0, threads > 1) << "read in chunks exactly when asked to";
    outcome.filled = filled.ok() ? 0 : -1;
    outcome.cause = filled.cause;
    outcome.line = filled.line;
    outcome.reason = std::to_string(filled.contradiction.address);
    if (outcome.filled != 0) {
        outcome.image.clear(); // what a failed pass leaves is not part of its result
    }
    return outcome;
}

TEST(ImageBuilder, FailOnAReadErrorInTheSecondPassOnly) {
    const std::string input = records(100);
    for (const std::size_t threads : {1U, 3U}) {
        MemoryInput failing(input, 64);
        const Outcome read_error =
            // At the start of line 21, so that only the error can fail the pass.
            convert(failing, threads, false, [&failing] { failing.fail_from(47 * 20); });
        EXPECT_EQ(read_error.preprocessed, 0);
        EXPECT_EQ(read_error.filled, -1) << threads;
        EXPECT_EQ(read_error.cause, PassResult::Cause::read_error) << threads;
    }
}

// The input changes right after the first pass (the fill pass's rewind must
// notice) or while the fill pass reads its last bytes (only the check at its
// end can): either way the fill pass fails, on one thread and in chunks.
TEST(ImageBuilder, FillFailsWhenTheInputChangedAtItsStartOrEnd) {
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
            EXPECT_EQ(outcome.cause, PassResult::Cause::changed);
        }
        MemoryInput unchanged(input, 100);
        EXPECT_EQ(convert(unchanged, threads).filled, 0);
    }
}

// Memory that runs out in a chunk's thread, or in the first chunk, which the
// calling thread reads while the others run: the pass fails, and the program
// goes on (an exception leaving a thread, or leaving its threads unjoined,
// would end it).
TEST(ImageBuilder, MemoryRunningOutInAChunkFailsThePass) {
    const std::string input = records(200);
    for (const std::size_t at : {std::size_t{100}, input.size() - 100}) {
        for (const bool in_fill : {false, true}) {
            MemoryInput source(input, 97);
            ImageBuilder passes(source, true, Threading{3, 0});
            source.throw_at(in_fill ? SIZE_MAX : at);
            std::int32_t low = 0;
            std::int32_t high = 0;
            ASSERT_EQ(passes.preprocess(low, high).ok(), in_fill) << at;
            if (in_fill) {
                source.throw_at(at);
                Bytes image(static_cast<std::size_t>(high - low + 1));
                EXPECT_FALSE(passes.fill(image, low).ok()) << at;
            }
        }
    }
}

// Cut into three and eight chunks, the passes give what one stream gives:
// spans, images, the first bad line in file order (and in strict mode its
// number), and nothing after a 0x1A.
TEST(ImageBuilder, ChunksGiveWhatOneStreamGives) {
    const std::string block = records(50, 0x1000);
    const std::string later = records(50, 0x0800); // overlaps nothing, lower addresses
    const std::string overlapping = records(50, 0x1100);
    const std::vector<std::pair<const char*, std::string>> inputs{
        {"disjoint", block + later},
        {"overlapping: later records win", block + overlapping + later},
        {"0x1A in a middle chunk, a bad line after it", block + "S9030000FC\x1a" + later + "X\n"},
        {"a bad line in the last chunk", block + later + "S5030001FB\n"},
        {"a bad line in the first chunk", "S1\n" + block + later},
        {"an Intel HEX file's first line", ":00000001FF\n" + block + later},
        {"a chunk of records without data bytes", later +
                                                      [] {
                                                          std::string empty;
                                                          for (int i = 0; i < 214; ++i) {
                                                              empty += "S1030900F3\n";
                                                          }
                                                          return empty;
                                                      }() +
                                                      block},
        {"two bad lines: the first in file order counts", block + "S1\n" + later + "S5030001FB\n"},
        {"a record that ends past 0x7FFFFFFF", block + "S3097FFFFFFE0102030471\n" + later},
        {"contradicting records in two chunks: the first in file order counts",
         block + records(50, 0x1108) + later + records(3, 0x0808)},
        {"a record contradicting one in an earlier chunk", block + later + records(3, 0x1008)},
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

// --- the file layer ------------------------------------------------------------

class FileTest : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(path_); }
    void write(const std::string& text) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    // In the build folder, so that builds tested side by side do not meet.
    std::filesystem::path path_ =
        "imgpack_test_" +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// A rewrite that keeps the size still changes the file's times.
TEST_F(FileTest, ARewriteOfTheSameSizeIsNoticed) {
    const std::string input = records(10);
    write(input);
    auto file = FileInput::open(path_.string().c_str());
    ASSERT_TRUE(file);
    ImageBuilder passes(*file, false);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_TRUE(passes.preprocess(low, high).ok());
    std::string rewritten = input;
    rewritten[13] = '1';
    write(rewritten);
    std::filesystem::last_write_time(path_, std::filesystem::last_write_time(path_) +
                                                std::chrono::seconds(2));
    EXPECT_FALSE(file->same_as_opened());
    Bytes image(160, 0xFF);
    EXPECT_EQ(passes.fill(image, low).cause, PassResult::Cause::changed);
}

// A new mode alone moves the change time: the fill pass fails, and its reason
// does not say that the bytes changed.
TEST_F(FileTest, ANewModeFailsTheFillPassAsAChangeOfAttributes) {
    write(records(10));
    auto file = FileInput::open(path_.string().c_str());
    ASSERT_TRUE(file);
    ImageBuilder passes(*file, true);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_TRUE(passes.preprocess(low, high).ok());
    using std::filesystem::perm_options;
    for (int i = 0; i < 1'000'000 && file->same_as_opened(); ++i) { // until the clock moves on
        std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                                     i % 2 == 0 ? perm_options::remove : perm_options::add);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write, perm_options::add);
    Bytes image(160);
    EXPECT_EQ(fill_reason(passes.fill(image, low)),
              "the file was changed or its attributes were (size, "
              "modification or change time differ from when it "
              "was opened)");
}

TEST_F(FileTest, PositionedReadsLeaveTheStreamPositionAloneAndReachPast4GiB) {
    write("S0030000FC\n");
    auto file = FileInput::open(path_.string().c_str());
    ASSERT_TRUE(file);
    std::array<char, 4> bytes{};
    ASSERT_EQ(file->read(std::span(bytes).first(2)), 2);
    ASSERT_EQ(file->read_at(6, bytes), 4);
    EXPECT_EQ(std::string(bytes.data(), 4), "00FC");
    ASSERT_EQ(file->read(std::span(bytes).first(2)), 2);
    EXPECT_EQ(std::string(bytes.data(), 2), "03") << "read() goes on where it was";

#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit then fails the resize instead
#endif
    const std::uint64_t far = std::uint64_t{5} << 30;
    std::error_code error;
    std::filesystem::resize_file(path_, far + 2, error); // sparse: costs no disk
    if (error) {
        GTEST_SKIP() << "no file of 5 GiB here: " << error.message();
    }
    std::fstream(path_, std::ios::binary | std::ios::in | std::ios::out)
            .seekp(static_cast<std::streamoff>(far))
        << "S9";
    EXPECT_EQ(file->regular_size(), far + 2);
    ASSERT_EQ(file->read_at(far, bytes), 2);
    EXPECT_EQ(std::string(bytes.data(), 2), "S9");
}

} // namespace
} // namespace imgpack

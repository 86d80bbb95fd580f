// The fill pass where the binary cannot reach it: a file that changed
// between the passes, and a read error in the second pass only.

#include "image/chunked_passes.hpp"
#include "image/passes.hpp"
#include "srec/byte_source.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace imgpack {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FillReadBuffer, RefusesARecordOutsideTheBufferAndWritesNothingOutside) {
    // Eight bytes at 0x10, but a buffer of seven: the file grew after the
    // first pass. Each low address puts the record past one end or the other.
    const std::string input = "S10B00100001020304050607FF\n";
    for (const std::int32_t low : {0x10, 0x11, 0x0A, 0x7FFFFFFF}) {
        MemorySource source(input);
        TextStream stream(source);
        Bytes guarded(9, 0xEE);
        const std::span<std::uint8_t> buffer(guarded.data() + 1, 7);
        EXPECT_EQ(fill_read_buffer(stream, buffer, low), -1) << low;
        EXPECT_EQ(guarded, Bytes(9, 0xEE)) << "nothing written for low " << low;
    }
    MemorySource source(input);
    TextStream stream(source);
    Bytes exact(8, 0xFF);
    EXPECT_EQ(fill_read_buffer(stream, exact, 0x10), 0);
    EXPECT_EQ(exact, (Bytes{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(FillReadBuffer, FailsOnAReadErrorAfterAGoodFirstPass) {
    std::string input;
    for (int i = 0; i < 100; ++i) {
        input += "S1130000000102030405060708090A0B0C0D0E0F00\n";
    }
    MemorySource source(input, 64);
    TextStream stream(source, 64);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_EQ(preprocess_input(stream, low, high), 0);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 15);
    source.rewind();
    source.fail_after(1000);
    Bytes buffer(16, 0xFF);
    EXPECT_EQ(fill_read_buffer(stream, buffer, low), -1);
}

// A file that shrinks (or grows) after the first pass fails the second, read
// as one stream or in chunks: its lines are no longer the ones checked.
TEST(FillReadBuffer, FileThatChangedSizeBetweenThePassesFails) {
    const auto path = std::filesystem::temp_directory_path() / "imgpack_changed_test.s19";
    for (const bool chunked : {false, true}) {
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            // 9.4 MB of records at rising addresses, so that chunks fill at once.
            std::array<char, 48> line{};
            for (unsigned i = 0; i < 200000; ++i) {
                std::snprintf(line.data(), line.size(),
                              "S315%08X000102030405060708090A0B0C0D0E0F00\n", i * 16);
                file << line.data();
            }
        }
        auto source = FileSource::open(path.string().c_str());
        ASSERT_TRUE(source);
        auto chunks = chunked ? ChunkedPasses::split(*source) : std::nullopt;
        if (chunked && !chunks) {
            ASSERT_LT(std::thread::hardware_concurrency(), 2U) << "a large file is read in chunks";
            continue; // one processor: no chunks to test
        }
        TextStream stream(*source);
        std::int32_t low = 0;
        std::int32_t high = 0;
        ASSERT_EQ(chunks ? chunks->preprocess(low, high) : preprocess_input(stream, low, high), 0);
        EXPECT_EQ(high, 200000 * 16 - 1);
        std::filesystem::resize_file(path, 47 * 20); // twenty whole lines left
        Bytes buffer(200000 * 16, 0xFF);
        EXPECT_EQ(chunks ? chunks->fill(buffer, low) : fill_read_buffer(stream, buffer, low), -1)
            << (chunked ? "in chunks" : "one stream");
    }
    // A small file is read as one stream: threads would cost more than they save.
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 100; ++i) {
            file << "S1130000000102030405060708090A0B0C0D0E0F00\n";
        }
    }
    const auto small = FileSource::open(path.string().c_str());
    ASSERT_TRUE(small);
    EXPECT_FALSE(ChunkedPasses::split(*small));
    std::filesystem::remove(path);
}

} // namespace
} // namespace imgpack

#include "srec/byte_source.hpp"
#include "srec/text_stream.hpp"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using namespace std::string_literals;

struct Lines {
    std::vector<std::string> lines;
    bool failed = false;
};

// Reads every line the stream delivers, as a pass does: while not at the end,
// until a read delivers nothing.
Lines read_all(TextStream& stream) {
    Lines result;
    std::array<char, line_buffer_size> buffer{};
    while (!stream.at_end()) {
        const int length = stream.read_line(buffer);
        if (length < 0) {
            result.failed = true;
            break;
        }
        if (length == 0) {
            break;
        }
        EXPECT_EQ(buffer[static_cast<std::size_t>(length)], '\0') << "terminating zero";
        result.lines.emplace_back(buffer.data(), static_cast<std::size_t>(length));
    }
    return result;
}

std::vector<std::string> read_lines(const std::string& input, std::size_t block_size) {
    MemorySource source(input);
    TextStream stream(source, block_size);
    return read_all(stream).lines;
}

struct StreamCase {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
};

std::vector<StreamCase> stream_cases() {
    const std::string chars254(254, 'x');
    const std::string chars255(255, 'y');
    return {
        {"empty input", "", {}},
        {"lines with LF", "S0\nS1\n", {"S0\n", "S1\n"}},
        {"last line without LF", "S0\nS9", {"S0\n", "S9"}},
        {"CR LF becomes LF", "S0\r\nS9\r\n", {"S0\n", "S9\n"}},
        {"lone CR is ordinary", "S0\rS9\n", {"S0\rS9\n"}},
        {"CR at the end of input", "S0\r", {"S0\r"}},
        {"CR CR LF keeps the first CR", "a\r\r\n", {"a\r\n"}},
        {"blank lines", "\n\r\n\n", {"\n", "\n", "\n"}},
        {"0x1A ends the stream", "S0\nS9\n\x1aS1 after\n", {"S0\n", "S9\n"}},
        {"0x1A mid-line", "S0\nS9\x1a\nmore", {"S0\n", "S9"}},
        {"0x1A first", "\x1aS0\n", {}},
        {"CR before 0x1A is ordinary", "S9\r\x1a\n", {"S9\r"}},
        {"zero byte is ordinary", "S1\0\n"s, {"S1\0\n"s}},
        {"254 characters and LF read whole", chars254 + "\n", {chars254 + "\n"}},
        {"254 characters and CR LF read whole", chars254 + "\r\n", {chars254 + "\n"}},
        {"255 characters and LF: LF comes alone", chars255 + "\n", {chars255, "\n"}},
        {"255 characters and CR LF: LF comes alone", chars255 + "\r\n", {chars255, "\n"}},
        {"255 characters at the end", chars255, {chars255}},
        {"long line split in 255s",
         std::string(600, 'z') + "\n",
         {std::string(255, 'z'), std::string(255, 'z'), std::string(90, 'z') + "\n"}},
        {"CR-only line ends read as one long line",
         std::string(3, 'a') + "\r" + std::string(300, 'b'),
         {"aaa\r" + std::string(251, 'b'), std::string(49, 'b')}},
    };
}

class StreamCases : public ::testing::TestWithParam<std::size_t> {};

// Every case is read with many block sizes, so that each line end, CR LF
// pair and 0x1A falls on a block boundary somewhere.
TEST_P(StreamCases, DeliversTheSameLinesWhateverTheBlockSize) {
    for (const auto& c : stream_cases()) {
        EXPECT_EQ(read_lines(c.input, GetParam()), c.lines) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, StreamCases,
                         ::testing::Values(1, 2, 3, 4, 5, 7, 64, 254, 255, 256, 257, 1 << 20));

TEST(TextStream, CrLfSplitAcrossSourceReads) {
    // The source hands out 3 bytes at a time: the CR of "S9\r\n" ends a read.
    const std::string input = "S0\r\nS9\r\n"s;
    MemorySource source(input, 3);
    TextStream stream(source);
    EXPECT_EQ(read_all(stream).lines, (std::vector<std::string>{"S0\n", "S9\n"}));
}

TEST(TextStream, EndStateFollowsWhatTheLastReadMet) {
    const std::string input = "S0\nS9"s;
    MemorySource source(input);
    TextStream stream(source);
    std::array<char, line_buffer_size> line{};
    EXPECT_EQ(stream.read_line(line), 3);
    EXPECT_FALSE(stream.at_end()) << "a line that ends in LF does not look further";
    EXPECT_EQ(stream.read_line(line), 2);
    EXPECT_TRUE(stream.at_end()) << "the last line without LF met the end of the input";
    EXPECT_EQ(stream.read_line(line), 0);
}

TEST(TextStream, RewindReadsTheSameLinesUpToTheSame0x1A) {
    const std::string input = "S0\nS9\n\x1agarbage\n"s;
    MemorySource source(input, 2);
    TextStream stream(source, 4);
    const auto first = read_all(stream).lines;
    EXPECT_TRUE(stream.rewind());
    EXPECT_FALSE(stream.at_end());
    EXPECT_EQ(read_all(stream).lines, first);
    EXPECT_EQ(first, (std::vector<std::string>{"S0\n", "S9\n"}));
}

TEST(TextStream, FailedRewindKeepsThePosition) {
    const std::string input = "S0\nS9\n"s;
    MemorySource source(input);
    source.forbid_rewind();
    TextStream stream(source);
    EXPECT_EQ(read_all(stream).lines.size(), 2U);
    EXPECT_FALSE(stream.rewind());
    EXPECT_TRUE(read_all(stream).lines.empty());
}

TEST(TextStream, ReadErrorIsReported) {
    const std::string input = std::string(1000, 'S') + "\n";
    MemorySource source(input, 100);
    source.fail_after(200);
    TextStream stream(source, 100);
    const auto result = read_all(stream);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.lines.size(), 0U) << "no line before the failing read was complete";
}

} // namespace
} // namespace imgpack

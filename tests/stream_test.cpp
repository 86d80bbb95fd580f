// The text input stream: line ends, 0x1A, the 255-character limit, rewinds
// and read errors, with block and read boundaries in every position.

#include "memory_input.hpp"
#include "srec/text_stream.hpp"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using namespace std::string_literals;
using test::MemoryInput;
using Lines = std::vector<std::string>;

// Reads every line as a pass does: while not at the end, until a read
// delivers nothing. A line after which the stream is at its end carries a
// "$"; a read error shows as a last line "<error>".
Lines read_all(TextStream& stream) {
    Lines lines;
    std::array<char, line_buffer_size> buffer{};
    while (!stream.at_end()) {
        const int length = test::read_line(stream, buffer);
        if (length <= 0) {
            if (length < 0) {
                lines.emplace_back("<error>");
            }
            break;
        }
        EXPECT_EQ(buffer[static_cast<std::size_t>(length)], '\0') << "terminating zero";
        lines.emplace_back(buffer.data(), static_cast<std::size_t>(length));
        if (stream.at_end()) {
            lines.back() += '$';
        }
    }
    return lines;
}

struct StreamCase {
    const char* name;
    std::string input;
    Lines lines;
};

TEST(TextStream, DeliversTheSameLinesWhateverTheBlockAndReadSizes) {
    const std::string x254(254, 'x');
    const std::string y255(255, 'y');
    const std::vector<StreamCase> cases{
        {"empty input", "", {}},
        {"last line without LF", "S0\nS9", {"S0\n", "S9$"}},
        {"CR LF becomes LF", "S0\r\nS9\r\n", {"S0\n", "S9\n"}},
        {"lone CR is ordinary", "S0\rS9\n", {"S0\rS9\n"}},
        {"CR at the end of input", "S0\r", {"S0\r$"}},
        {"CR CR LF keeps the first CR", "a\r\r\n", {"a\r\n"}},
        {"blank lines", "\n\r\n\n", {"\n", "\n", "\n"}},
        {"0x1A ends the stream", "S0\nS9\n\x1aS1 after\n", {"S0\n", "S9\n"}},
        {"0x1A mid-line", "S0\nS9\x1a\nmore", {"S0\n", "S9$"}},
        {"0x1A first", "\x1aS0\n", {}},
        {"CR before 0x1A is ordinary", "S9\r\x1a\n", {"S9\r$"}},
        {"zero byte is ordinary", "S1\0\n"s, {"S1\0\n"s}},
        {"254 characters and LF", x254 + "\nS9", {x254 + "\n", "S9$"}},
        {"254 characters and a CR: the CR looked past", x254 + "\r", {x254 + "\r$"}},
        {"255th character a CR, more after", x254 + "\rS9", {x254 + "\r", "S9$"}},
        {"254 characters and CR LF", x254 + "\r\n", {x254 + "\n"}},
        {"255 characters and LF: LF comes alone", "S0\n" + y255 + "\n", {"S0\n", y255, "\n"}},
        {"255 characters and CR LF: LF comes alone", y255 + "\r\n", {y255, "\n"}},
        {"255 characters at the end", y255, {y255}},
        {"255 characters and a CR at the end", y255 + "\r", {y255, "\r$"}},
        {"long line split in 255s",
         std::string(600, 'z') + "\n",
         {std::string(255, 'z'), std::string(255, 'z'), std::string(90, 'z') + "\n"}},
        {"CR-only line ends read as one long line",
         "aaa\r" + std::string(300, 'b'),
         {"aaa\r" + std::string(251, 'b'), std::string(49, 'b') + "$"}},
    };
    for (const std::size_t block : {1U, 2U, 3U, 5U, 64U, 255U, 256U, 257U, 1U << 18}) {
        for (const std::size_t max_read : {1U, 3U, 100U, 1U << 20}) {
            for (const auto& c : cases) {
                MemoryInput source(c.input, max_read);
                TextStream stream(source, block);
                EXPECT_EQ(read_all(stream), c.lines)
                    << c.name << ", block " << block << ", read " << max_read;
            }
        }
    }
}

TEST(TextStream, RewindReadsTheSameLinesUpToTheSame0x1A) {
    const std::string input = "S0\nS9\n\x1agarbage\n"s;
    MemoryInput source(input, 2);
    TextStream stream(source, 4);
    EXPECT_EQ(read_all(stream), (Lines{"S0\n", "S9\n"}));
    EXPECT_TRUE(stream.at_end());
    EXPECT_TRUE(stream.met_end_of_text());
    EXPECT_TRUE(stream.rewind());
    EXPECT_FALSE(stream.at_end());
    EXPECT_FALSE(stream.met_end_of_text());
    EXPECT_EQ(read_all(stream), (Lines{"S0\n", "S9\n"}));
}

TEST(TextStream, FailedRewindKeepsThePosition) {
    const std::string input = "S0\nS9\n"s;
    MemoryInput source(input);
    TextStream stream(source);
    EXPECT_EQ(read_all(stream).size(), 2U);
    source.make_pipe();
    EXPECT_FALSE(stream.rewind());
    EXPECT_TRUE(read_all(stream).empty());
}

TEST(TextStream, ReadErrorInTheMiddleOfALine) {
    const std::string input = "S0\n" + std::string(1000, 'S') + "\n";
    MemoryInput source(input, 100);
    source.fail_from(600);
    TextStream stream(source, 100);
    const Lines lines = read_all(stream);
    // The stream reads ahead, so how many pieces of the long line come first
    // is its own business; the error must come before the line's end.
    ASSERT_GE(lines.size(), 2U);
    EXPECT_EQ(lines.front(), "S0\n");
    EXPECT_EQ(lines.back(), "<error>");
    EXPECT_LT(lines.size(), 6U);
}

} // namespace
} // namespace imgpack

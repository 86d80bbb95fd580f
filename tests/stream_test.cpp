// The text input stream: line ends, 0x1A and the 255-character limit, with
// block and read boundaries in every position.

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
// "$".
Lines read_all(TextStream& stream) {
    Lines lines;
    std::array<char, line_buffer_size> buffer{};
    while (!stream.at_end()) {
        RawLine raw;
        const int length = stream.next_line(raw);
        if (length <= 0) {
            break;
        }
        EXPECT_EQ(raw.copy_terminated(buffer), static_cast<std::size_t>(length));
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

} // namespace
} // namespace imgpack

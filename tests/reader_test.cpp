// The record reader and the hexadecimal helpers, where the binary cannot
// show them: outputs left alone on failure, and the fast decoders agreeing
// with the digit rules on every character pair.

#include "memory_input.hpp"
#include "srec/hex.hpp"
#include "srec/reader.hpp"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto untouched_kind = static_cast<RecordKind>(99);
constexpr std::int32_t untouched = 0x5A5A5A5A;

struct Decoded {
    int result = srec_failed;
    RecordKind kind = untouched_kind;
    std::int32_t address = untouched;
    std::int32_t data_length = untouched;
    Bytes data; // the first data_length bytes of a data record
};

// Reads the first line of `input` with read_srecord, or with scan_srecord,
// which leaves the data bytes alone.
Decoded read_first(const std::string& input, bool scan) {
    test::MemoryInput source(input);
    TextStream stream(source);
    Decoded d;
    std::array<std::uint8_t, record_data_capacity> data{};
    d.result = scan ? scan_srecord(stream, d.kind, d.address, d.data_length)
                    : read_srecord(stream, d.kind, d.address, d.data_length, data);
    if (d.result == srec_decoded && d.kind == RecordKind::data && !scan) {
        d.data.assign(data.begin(), data.begin() + std::max(d.data_length, 0));
    }
    return d;
}

struct ReaderCase {
    std::string line;
    int result;
    RecordKind kind;
    std::int32_t address;
    std::int32_t data_length;
    Bytes data;
};

TEST(ReadSrecord, DecodesOrRejectsEachLine) {
    const auto data = RecordKind::data;
    const auto kind_only = [](std::string line, RecordKind kind) {
        return ReaderCase{std::move(line), srec_decoded, kind, untouched, untouched, {}};
    };
    std::vector<ReaderCase> cases{
        {"S1130000000102030405060708090A0B0C0D0E0F00\n", 0, data, 0, 16,
         Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"S2051234563F\n", 0, data, 0x123456, 1, {0x3F}},
        {"S307FFFF0000ABCD\n", 0, data, -65536, 2, {0xAB, 0xCD}},
        {"S1051a2bc3d4\n", 0, data, 0x1A2B, 2, {0xC3, 0xD4}},
        {"S1030100FB\n", 0, data, 0x0100, 0, {}},
        {"S1020100\n", 0, data, 0x0100, -1, {}},
        {"S1040000G0\n", 0, data, 0, 1, {0x00}},
        {"S10300\n", 0, data, static_cast<std::int32_t>(0xFFFFFAD9U), 0, {}},
        {"S1070000AABBCC\n", 0, data, 0, 4, {0xAA, 0xBB, 0xCC, 0xD9}},
        {"S1040000\0\x31\n"s, 0, data, 0, 1, {static_cast<std::uint8_t>(-87 * 16 + 1)}},
        kind_only("S00600004844521B\n", RecordKind::header),
        kind_only("S0", RecordKind::header),
        kind_only("S70500000000FA\n", RecordKind::termination),
        kind_only("S804000000FB\n", RecordKind::termination),
        kind_only("S9", RecordKind::termination),
    };
    for (const std::string& line :
         {"s1030000FC\n"s, "S4030000FC\n"s, "S5030001FB\n"s, "S604000001FA\n"s, "S:030000FC\n"s,
          "S/030000FC\n"s, "S"s, "\n"s, " S1030000FC\n"s, "S1"s, "S103\n"s, "S204000\n"s,
          "S3090000\n"s, "S1130000AABB\n"s, "S10500001\n"s}) {
        cases.push_back({line, srec_failed, untouched_kind, untouched, untouched, {}});
    }
    for (const auto& c : cases) {
        for (const bool scan : {false, true}) {
            const auto d = read_first(c.line, scan);
            EXPECT_EQ(d.result, c.result) << c.line << (scan ? " scanned" : "");
            EXPECT_EQ(d.kind, c.kind) << c.line;
            EXPECT_EQ(d.address, c.address) << c.line;
            EXPECT_EQ(d.data_length, c.data_length) << c.line;
            EXPECT_EQ(d.data, scan ? Bytes{} : c.data) << c.line;
        }
    }
}

// Reads `input` strictly to its end or its first rejected line; returns
// "LINE: reason", or "ok" with the number of records read.
std::string read_strictly(const std::string& input) {
    test::MemoryInput source(input);
    TextStream stream(source);
    CheckedReading strict;
    RecordKind kind{};
    std::int32_t address = 0;
    std::int32_t length = 0;
    for (int records = 0;; ++records) {
        const int result = scan_srecord_checked(stream, kind, address, length, strict);
        if (result == srec_no_line || (result == srec_decoded && stream.at_end())) {
            return "ok " + std::to_string(records + (result == srec_decoded ? 1 : 0));
        }
        if (result == srec_failed) {
            return std::to_string(strict.complete_lines + 1) + ": " + strict.reason;
        }
    }
}

TEST(ReadSrecord, StrictlyRejectsEveryLineThatIsNotAWholeRecord) {
    const std::string good = "S00600004844521B\nS1130000285F245F2212226A000424290008237C2A\n";
    const std::string end = "S9030000FC\n";
    // Rows that no black-box case in tests/cases/strict/ has.
    const std::vector<std::pair<std::string, std::string>> cases{
        {good + end, "ok 3"},
        {good + "S9030000FC", "ok 3"},
        {good + "S4030000FC\n", "3: S4 records are not read"},
        {good + "S6040000010A\n",
         "3: S6 record-count records are not read (srec_cat: add -disable=data-count)"},
        {good + "\n" + end, "3: blank line"},
        {good + "s9030000FC\n", "3: a record starts with an upper-case 'S', not 's'"},
        {good + " S9030000FC\n", "3: a record starts with 'S', not a space"},
        {good + "\x7fS9030000FC\n", "3: a record starts with 'S', not byte 0x7F"},
        {good + "SX030000FC\n", "3: the record type is 'X', not a digit"},
        {good + "S1\n", "3: the line ends before its count"},
        {good + "S100\n",
         "3: the count 00 is less than the 3 bytes of an S1 record's address and checksum"},
        {good + "S\n", "3: the line ends after the 'S'"},
        {good + "S9030000FC\t\n", "3: a tab is not a hexadecimal digit"},
        {good + "S9030000gS\n", "3: 'g' is not a hexadecimal digit"}, // adds up like FC
        {good + "S803000000\n",
         "3: the count 03 is less than the 4 bytes of an S8 record's address and checksum"},
        {"\xef\xbb\xbfS9030000FC\n",
         "1: the file starts with a byte-order mark; save it without one"},
        {good + ":00000001FF\n", "3: a record starts with 'S', not ':'"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(read_strictly(input), expected) << input;
    }
}

TEST(HexHelpers, FindTheFirstCharacterThatIsNotAHexDigit) {
    // Every character in every position of a run long enough for the vector
    // steps and the scalar tail.
    for (int ch = 0; ch < 256; ++ch) {
        const char c = static_cast<char>(ch);
        const bool digit =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        EXPECT_EQ(is_hex_digit(c), digit) << ch;
        for (std::size_t at = 0; at < 40; ++at) {
            std::string text(40, "0123456789abcdefABCDEF"[at % 22]);
            text[at] = c;
            ASSERT_EQ(find_non_hex_digit(text), digit ? 40 : at) << ch << " at " << at;
            ASSERT_EQ(hex_byte_sum(text).has_value(), digit) << ch << " at " << at;
        }
    }
}

TEST(HexHelpers, FastPathsAgreeOnEveryCharacterPair) {
    // All 65536 pairs, decoded in runs of many lengths so that every vector
    // step and the scalar tail meet every pair, and as fields of two and
    // eight digits, against the digit rule itself.
    std::string text;
    for (int pair = 0; pair < 65536; ++pair) {
        text += {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
    }
    std::vector<std::uint8_t> decoded(65536);
    const std::array<std::size_t, 7> runs{64, 47, 16, 9, 8, 7, 1};
    // From the end backwards, so that a decoder that writes past its run
    // spoils a run already decoded.
    for (std::size_t end = decoded.size(), run = 0; end > 0; ++run) {
        const std::size_t count = std::min(runs[run % runs.size()], end);
        end -= count;
        hex_bytes(std::span(text).subspan(2 * end, 2 * count),
                  std::span(decoded).subspan(end, count));
    }
    const auto rule = [&text](std::size_t at, std::size_t digits) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            value = value * 16 + static_cast<std::uint32_t>(hex_digit(text[at + i]));
        }
        return value;
    };
    for (std::size_t pair = 0; pair < 65536; ++pair) {
        const std::uint32_t value = rule(2 * pair, 2);
        ASSERT_EQ(decoded[pair], static_cast<std::uint8_t>(value & 0xFF)) << pair;
        ASSERT_EQ(hex_value<1>(text.data() + 2 * pair), value) << pair;
        if (2 * pair + 8 <= text.size()) {
            ASSERT_EQ(hex_value<4>(text.data() + 2 * pair), rule(2 * pair, 8)) << pair;
        }
    }
}

} // namespace
} // namespace imgpack

// The record reader and the hexadecimal helpers, where the binary cannot
// show them: outputs left alone on failure, and the fast decoders agreeing
// with the digit rules on every character pair.

#include "srec/byte_source.hpp"
#include "srec/hex.hpp"
#include "srec/hex_table.hpp"
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
    MemorySource source(input);
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

TEST(ReadSrecord, ReportsAnExhaustedStream) {
    for (const std::string& input : {""s, "\x1aS1030000FC\n"s}) {
        EXPECT_EQ(read_first(input, false).result, srec_no_line);
    }
}

TEST(HexHelpers, ConvertWithoutValidation) {
    const std::vector<std::pair<char, int>> digits{
        {'0', 0},    {'9', 9},    {'A', 10},  {'F', 15},      {'a', 10},
        {'f', 15},   {'G', -16},  {'@', -23}, {'/', -40},     {':', -29},
        {'\n', -77}, {'\0', -87}, {' ', -55}, {'\x80', -215}, {'\xff', -88},
    };
    for (const auto& [ch, value] : digits) {
        EXPECT_EQ(hex_digit(ch), value) << static_cast<int>(ch);
    }
    EXPECT_EQ(hex_value("ab", 1), 0xAB);
    EXPECT_EQ(hex_value("80000001", 4), static_cast<std::int32_t>(0x80000001U));
    EXPECT_EQ(hex_value("12345678AB", 5), static_cast<std::int32_t>(0x345678ABU));
    EXPECT_EQ(hex_value("00\n\0"s, 2), static_cast<std::int32_t>(0xFFFFFAD9U));
    EXPECT_EQ(hex_value("12", 0), 0);
    EXPECT_EQ(hex_value("12", -1), 0);

    std::array<std::uint8_t, 3> out{0x55, 0x55, 0x55};
    hex_bytes("G0\n\0zz"s, 2, out);
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0x00, 0xD9, 0x55}));
    hex_bytes("ABCD", 2, std::span(out).first(2)); // text and output of exactly the size
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0xAB, 0xCD, 0x55}));
    hex_bytes("1234", 0, out);
    hex_bytes("1234", -1, out);
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0xAB, 0xCD, 0x55}));
}

TEST(HexHelpers, FastPathsAgreeOnEveryCharacterPair) {
    // All 65536 pairs, decoded in runs of many lengths so that every vector
    // step and the scalar tail meet every pair, and as fields of two and
    // eight digits.
    std::string text;
    for (int pair = 0; pair < 65536; ++pair) {
        text += {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
    }
    std::vector<std::uint8_t> decoded(65536);
    const std::array<std::size_t, 7> runs{64, 47, 16, 9, 8, 7, 1};
    for (std::size_t start = 0, run = 0; start < decoded.size();
         start += runs[run % runs.size()], ++run) {
        const std::size_t count = std::min(runs[run % runs.size()], decoded.size() - start);
        decode_hex_pairs(text.data() + 2 * start, count, decoded.data() + start);
    }
    for (std::size_t pair = 0; pair < 65536; ++pair) {
        const char* chars = text.data() + 2 * pair;
        const std::int32_t value = hex_value({chars, 2}, 1);
        ASSERT_EQ(decoded[pair], static_cast<std::uint8_t>(value & 0xFF)) << pair;
        ASSERT_EQ(hex_field_fixed<2>(chars), static_cast<std::uint32_t>(value)) << pair;
        if (2 * pair + 8 <= text.size()) {
            ASSERT_EQ(hex_field_fixed<8>(chars),
                      static_cast<std::uint32_t>(hex_value({chars, 8}, 4)))
                << pair;
        }
    }
}

} // namespace
} // namespace imgpack

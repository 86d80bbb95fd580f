#include "srec/hex.hpp"
#include "srec/hex_table.hpp"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace imgpack {
namespace {

struct DigitCase {
    char ch;
    int value;
};

TEST(HexDigit, MapsEveryCharacterWithoutValidation) {
    const std::array<DigitCase, 16> cases{{
        {'0', 0},
        {'9', 9},
        {'A', 10},
        {'F', 15},
        {'a', 10},
        {'f', 15},
        {'G', -16}, // upper-case letters past F fall through to the lower-case rule
        {'g', 16},
        {'@', -23},
        {'/', -40},
        {':', -29},
        {'\n', -77},
        {'\0', -87},
        {' ', -55},
        {static_cast<char>(0x80), -215}, // bytes from 0x80 up are negative characters
        {static_cast<char>(0xFF), -88},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(hex_digit(c.ch), c.value)
            << "character 0x" << std::hex << static_cast<int>(static_cast<unsigned char>(c.ch));
    }
}

struct ValueCase {
    std::string text;
    int n;
    std::int32_t value;
};

TEST(HexValue, AccumulatesDigitsInWrappingArithmetic) {
    const std::array<ValueCase, 9> cases{{
        {"13", 1, 0x13},
        {"ab", 1, 0xAB},
        {"1234", 2, 0x1234},
        {"FFFFFFFF", 4, -1},
        {"80000000", 4, static_cast<std::int32_t>(0x80000000U)},
        {"0G", 1, -16},
        {std::string("00\n\0", 4), 2, static_cast<std::int32_t>(0xFFFFFAD9U)},
        {"anything", 0, 0},
        {"anything", -3, 0},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(hex_value(c.text, c.n), c.value) << '"' << c.text << "\" n=" << c.n;
    }
}

TEST(HexValue, WrapsPastThirtyTwoBits) {
    // Ten digits: the first two are shifted out of the 32-bit value.
    EXPECT_EQ(hex_value("12345678AB", 5), static_cast<std::int32_t>(0x345678ABU));
}

TEST(HexBytes, KeepsTheLowEightBitsOfEachPair) {
    std::array<std::uint8_t, 6> out{};
    hex_bytes(std::string_view("00fF7aG0\n\0zz", 12), 6, out);
    // "G0": -16 * 16 + 0 = -256 -> 0x00; "\n\0": -77 * 16 - 87 -> 0xD9 ("zz": 35*16+35 = 595 ->
    // 0x53)
    EXPECT_EQ(out, (std::array<std::uint8_t, 6>{0x00, 0xFF, 0x7A, 0x00, 0xD9, 0x53}));
}

TEST(HexBytes, WritesNothingForZeroOrNegativeLength) {
    std::array<std::uint8_t, 2> out{0x55, 0x66};
    hex_bytes("1234", 0, out);
    hex_bytes("1234", -1, out);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0x55, 0x66}));
}

TEST(HexBytes, AgreesWithHexValueForEveryCharacterPair) {
    // The table-driven decoder must match the digit rules on all 65536 pairs.
    for (int high = 0; high < 256; ++high) {
        for (int low = 0; low < 256; ++low) {
            const std::array<char, 2> text{static_cast<char>(high), static_cast<char>(low)};
            std::uint8_t decoded = 0;
            decode_hex_pairs(text.data(), 1, &decoded);
            const auto expected =
                static_cast<std::uint8_t>(hex_value({text.data(), text.size()}, 1) & 0xFF);
            ASSERT_EQ(decoded, expected) << "pair " << high << ", " << low;
        }
    }
}

} // namespace
} // namespace imgpack

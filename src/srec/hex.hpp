#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace imgpack {

// Hexadecimal fields are converted without validation: every character has a
// digit value. '0'-'9' and 'A'-'F' map as expected; every other character,
// lower-case 'a'-'f' included, maps to ch - 0x57 with ch taken as a signed
// 8-bit value. So 'G' is -16, a line feed -77 and a zero byte -87, and the
// arithmetic below simply carries those values along.
constexpr int hex_digit(char ch) {
    const auto value = static_cast<std::int8_t>(ch);
    if (static_cast<std::uint8_t>(value - 0x30) <= 9) {
        return value - 0x30;
    }
    if (static_cast<std::uint8_t>(value - 0x41) <= 5) {
        return value - 0x37;
    }
    return value - 0x57;
}

// The number written in the first 2n characters of `text`, accumulated in
// 32-bit wrap-around arithmetic. Zero when 2n is 0 or less.
// `text` must hold at least 2n characters.
std::int32_t hex_value(std::string_view text, int n);

// Decodes `len` bytes from the first 2 * len characters of `text` into `out`;
// each byte is the low 8 bits of the two-digit value. Nothing is written when
// `len` is 0 or less. `text` must hold 2 * len characters, `out` len bytes.
void hex_bytes(std::string_view text, int len, std::span<std::uint8_t> out);

} // namespace imgpack

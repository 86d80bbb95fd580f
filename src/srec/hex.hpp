#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imgpack {

// Hexadecimal fields are converted without validation: every character has a
// digit value. '0'-'9' and 'A'-'F' map as expected; every other character,
// lower-case 'a'-'f' included, maps to ch - 0x57 with ch taken as a signed
// 8-bit value. So 'G' is -16, a line feed -77 and a zero byte -87, and the
// arithmetic below simply carries those values along. This is the one place
// the rule is written; the tables below are made from it, and the vector
// decoders are tested against it on every pair of characters.
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

// True for the characters a well-formed record uses in its hexadecimal
// fields: '0'-'9', 'A'-'F' and 'a'-'f'.
constexpr bool is_hex_digit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

namespace detail {

// Every character's digit value modulo 2^32, made from hex_digit().
consteval std::array<std::uint32_t, 256> make_digit_table() {
    std::array<std::uint32_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        table[static_cast<std::size_t>(byte)] = static_cast<std::uint32_t>(
            hex_digit(static_cast<char>(byte > 127 ? byte - 256 : byte)));
    }
    return table;
}

inline constexpr std::array<std::uint32_t, 256> digit_table = make_digit_table();

} // namespace detail

// The number written in the 2 * Bytes characters at `text`, in 32-bit
// wrap-around arithmetic: an eight-digit address fills all 32 bits. Each pair
// of digits is worked out on its own and the pairs are then combined, which in
// wrap-around arithmetic gives the digit-by-digit value with a much shorter
// chain of dependent steps.
template <std::size_t Bytes> inline std::uint32_t hex_value(const char* text) noexcept {
    static_assert(Bytes >= 1 && Bytes <= 4);
    const auto& digit_of = detail::digit_table;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 2 * Bytes; i += 2) {
        const std::uint32_t pair = (digit_of[static_cast<unsigned char>(text[i])] << 4) +
                                   digit_of[static_cast<unsigned char>(text[i + 1])];
        value = (value << 8) + pair;
    }
    return value;
}

// Decodes decoded.size() bytes from the first 2 * decoded.size() characters of
// `text`; each byte is the low 8 bits of its two-digit value. `text` must hold
// that many characters.
void hex_bytes(std::span<const char> text, std::span<std::uint8_t> decoded) noexcept;

// The offset of the first character of `text` that is not a hexadecimal
// digit (is_hex_digit), or text.size() when all are.
std::size_t find_non_hex_digit(std::span<const char> text) noexcept;

// The low 8 bits of the sum of the bytes written in `text`, two characters
// each; nullopt when a character is not a hexadecimal digit or the last one
// has no partner. A record's bytes, its checksum included, sum to 0xFF.
std::optional<std::uint8_t> hex_byte_sum(std::span<const char> text) noexcept;

} // namespace imgpack

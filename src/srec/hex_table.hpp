#pragma once

// Internal fast path for decoding runs of two-character hexadecimal bytes.
// Produces exactly the bytes that hex_bytes() documents, including for
// characters that are not hexadecimal digits.

#include "srec/hex.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace imgpack {

namespace detail {

// Only the low 8 bits of a decoded byte are kept, so each character's digit
// value is needed modulo 256 (low nibble) and times 16 modulo 256 (high nibble).
struct HexTables {
    std::array<std::uint8_t, 256> low{};
    std::array<std::uint8_t, 256> high{};
    std::array<std::uint32_t, 256> digit{}; // the digit value modulo 2^32
};

consteval HexTables make_hex_tables() {
    HexTables tables;
    for (int byte = 0; byte < 256; ++byte) {
        const int digit = hex_digit(static_cast<char>(byte > 127 ? byte - 256 : byte));
        tables.low[static_cast<std::size_t>(byte)] = static_cast<std::uint8_t>(digit & 0xFF);
        tables.high[static_cast<std::size_t>(byte)] =
            static_cast<std::uint8_t>((digit * 16) & 0xFF);
        tables.digit[static_cast<std::size_t>(byte)] = static_cast<std::uint32_t>(digit);
    }
    return tables;
}

inline constexpr HexTables hex_tables = make_hex_tables();

} // namespace detail

// The value of `digits` characters at `text` in 32-bit wrap-around arithmetic.
inline std::uint32_t hex_field(const char* text, std::size_t digits) noexcept {
    const auto& digit_of = detail::hex_tables.digit;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        value = (value << 4) + digit_of[static_cast<unsigned char>(text[i])];
    }
    return value;
}

// hex_field() for a width known at compile time. Each pair of digits is worked
// out on its own and the pairs are then combined; in 32-bit wrap-around
// arithmetic this gives the same value as the digit-by-digit loop, with a
// much shorter chain of dependent steps.
template <std::size_t Digits> inline std::uint32_t hex_field_fixed(const char* text) noexcept {
    static_assert(Digits % 2 == 0 && Digits <= 8);
    const auto& digit_of = detail::hex_tables.digit;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < Digits; i += 2) {
        const std::uint32_t pair = (digit_of[static_cast<unsigned char>(text[i])] << 4) +
                                   digit_of[static_cast<unsigned char>(text[i + 1])];
        value = (value << 8) + pair;
    }
    return value;
}

// Decodes `count` bytes from 2 * count characters at `text` into `out`.
void decode_hex_pairs(const char* text, std::size_t count, std::uint8_t* out) noexcept;

} // namespace imgpack

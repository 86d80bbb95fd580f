#include "srec/hex.hpp"

#include "srec/hex_table.hpp"

#include <cassert>
#include <cstddef>

namespace imgpack {

std::int32_t hex_value(std::string_view text, int n) {
    if (n <= 0) {
        return 0;
    }
    const auto digits = static_cast<std::size_t>(n) * 2;
    assert(text.size() >= digits);
    return static_cast<std::int32_t>(hex_field(text.data(), digits));
}

void hex_bytes(std::string_view text, int len, std::span<std::uint8_t> out) {
    if (len <= 0) {
        return;
    }
    const auto count = static_cast<std::size_t>(len);
    assert(text.size() >= count * 2 && out.size() >= count);
    decode_hex_pairs(text.data(), count, out.data());
}

} // namespace imgpack

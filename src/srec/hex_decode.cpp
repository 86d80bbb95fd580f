#include "srec/hex_table.hpp"

namespace imgpack {

void decode_hex_pairs(const char* text, std::size_t count, std::uint8_t* out) noexcept {
    const auto& tables = detail::hex_tables;
    const auto* chars = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(tables.high[chars[2 * i]] + tables.low[chars[2 * i + 1]]);
    }
}

} // namespace imgpack

// The CRC-32 against published check values, not values computed here: the
// catalogue's check value of the nine digits "123456789", 0 for no bytes, and
// the residue 0x2144DF1C of any message followed by its own CRC, least
// significant byte first (on an image large enough to be summed in parts).

#include "image/crc32.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <string_view>
#include <vector>

namespace imgpack {
namespace {

std::uint32_t crc_of_text(std::string_view text) {
    return crc32_of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Crc32, PublishedCheckValues) {
    EXPECT_EQ(crc_of_text("123456789"), 0xCBF43926U);
    EXPECT_EQ(crc_of_text(""), 0U);
}

TEST(Crc32, AnImageFollowedByItsCrcLeavesTheResidue) {
    std::vector<std::uint8_t> image((std::size_t{6} << 20) + 3);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 2654435761U >> 24);
    }
    const std::uint32_t crc = crc32_of(image);
    for (int shift = 0; shift < 32; shift += 8) {
        image.push_back(static_cast<std::uint8_t>(crc >> shift));
    }
    EXPECT_EQ(crc32_of(image), 0x2144DF1CU);
}

} // namespace
} // namespace imgpack

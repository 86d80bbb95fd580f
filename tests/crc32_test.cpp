// The CRC-32 against published check values, not values computed here: the
// catalogue's check value of the nine digits "123456789", and 0 for no bytes.

#include "image/crc32.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <string_view>

namespace imgpack {
namespace {

std::uint32_t crc_of_text(std::string_view text) {
    return crc32_of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Crc32, PublishedCheckValues) {
    EXPECT_EQ(crc_of_text("123456789"), 0xCBF43926U);
    EXPECT_EQ(crc_of_text(""), 0U);
}

} // namespace
} // namespace imgpack

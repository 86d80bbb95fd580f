#pragma once

#include "image/coverage.hpp"

#include <cstdint>
#include <string>

namespace imgpack {

// The memory map of an image whose first byte stands for address `base`: the
// ranges the records wrote (touching ones merged), the gaps of fill between
// them, the totals and a one-line picture, one character per equal slice of
// the image ('#' all data, ':' partly, '.' only fill).
std::string image_map(const Coverage& written, std::uint32_t base);

} // namespace imgpack

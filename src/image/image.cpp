#include "image/image.hpp"

#include <cstring>

namespace imgpack {

std::optional<Image> Image::allocate(std::size_t size, std::uint8_t fill) {
    auto pages = platform::Pages::allocate(size);
    if (!pages) {
        return std::nullopt;
    }
    if (size > 0) {
        std::memset(pages->bytes().data(), fill, size);
    }
    return Image(std::move(*pages));
}

} // namespace imgpack

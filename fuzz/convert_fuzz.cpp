// A whole conversion in memory: the preprocess pass, an image of the span's
// size preset to 0xFF (skipped above a cap, to keep fuzzing fast), the fill
// pass, and the image compared against one built independently from the
// reference reader's records.

#include "fuzz_input.hpp"
#include "image/passes.hpp"
#include "reference/reference_reader.hpp"
#include "srec/byte_source.hpp"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::int64_t image_cap = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = imgpack::fuzz::fuzz_input(data, size);
    imgpack::MemorySource source(std::span<const char>(input.bytes.data(), input.bytes.size()),
                                 input.max_read);
    imgpack::TextStream stream(source, input.block_size);
    std::int32_t low = 0;
    std::int32_t high = 0;
    if (imgpack::preprocess_input(stream, low, high) != 0) {
        return 0;
    }
    if (high < 0) {
        std::abort(); // HiAddr never ends below 0
    }
    const auto span = static_cast<std::int32_t>(static_cast<std::uint32_t>(high) -
                                                static_cast<std::uint32_t>(low) + 1U);
    if (span < 0 || span > image_cap) {
        return 0; // the driver refuses a negative size; large ones are skipped
    }
    const auto image_size = static_cast<std::size_t>(span);
    std::vector<std::uint8_t> image(image_size, 0xFF);
    const int result = imgpack::fill_read_buffer(stream, image, low);
    // The preprocess pass accepted every line, so the reference reads them all.
    const auto expected = imgpack::reference::fill(input.bytes, low, image_size);
    if (result != expected.fill_result) {
        std::abort();
    }
    if (result == 0 && image != expected.bytes) {
        std::abort();
    }
    return 0;
}

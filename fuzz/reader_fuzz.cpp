// Arbitrary bytes read record by record to the end of the stream, going on
// past rejected lines. The sanitizers catch any read or write out of bounds;
// the checks below catch outputs that break the reader's promises.

#include "fuzz_input.hpp"
#include "srec/byte_source.hpp"
#include "srec/reader.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = imgpack::fuzz::fuzz_input(data, size);
    imgpack::MemorySource source(std::span<const char>(input.bytes.data(), input.bytes.size()),
                                 input.max_read);
    imgpack::TextStream stream(source, input.block_size);
    std::array<std::uint8_t, imgpack::record_data_capacity> bytes{};
    std::size_t calls = 0;
    while (!stream.at_end()) {
        imgpack::RecordKind kind{};
        std::int32_t address = 0;
        std::int32_t length = 0;
        const int result = imgpack::read_srecord(stream, kind, address, length, bytes);
        if (result == imgpack::srec_no_line) {
            break;
        }
        // Every call consumes at least one byte, so the loop must end.
        if (++calls > size + 1) {
            std::abort();
        }
        if (result == imgpack::srec_decoded && kind == imgpack::RecordKind::data &&
            length > static_cast<std::int32_t>(imgpack::record_data_capacity)) {
            std::abort();
        }
    }
    return 0;
}

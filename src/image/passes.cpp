#include "image/passes.hpp"

#include "srec/reader.hpp"

#include <array>
#include <cstring>

namespace imgpack {

namespace {

// Address arithmetic wraps at 32 bits.
std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The preprocess pass over the records that `read_record` delivers.
template <typename ReadRecord>
int preprocess_with(TextStream& input, std::int32_t& low, std::int32_t& high,
                    const ReadRecord& read_record) {
    low = 0x7FFFFFFF;
    high = 0;
    // The stream is at its start on the first pass, so a failed rewind (a
    // pipe) changes nothing here.
    input.rewind();
    RecordKind kind = RecordKind::header;
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    while (!input.at_end()) {
        const int result = read_record(kind, address, data_length);
        if (result == srec_failed) {
            return -1;
        }
        if (result == srec_no_line) {
            break;
        }
        if (kind != RecordKind::data) {
            continue;
        }
        if (address < low) {
            low = address;
        }
        const std::int32_t end = wrapping_add(address, data_length - 1);
        if (end > high) {
            high = end;
        }
    }
    return 0;
}

} // namespace

int preprocess_input(TextStream& input, std::int32_t& low, std::int32_t& high) {
    // Only the span is needed here, so the data bytes are checked but not
    // decoded.
    return preprocess_with(input, low, high,
                           [&input](RecordKind& kind, std::int32_t& address, std::int32_t& length) {
                               return scan_srecord(input, kind, address, length);
                           });
}

int preprocess_input_strictly(TextStream& input, std::int32_t& low, std::int32_t& high,
                              StrictReading& strict) {
    return preprocess_with(
        input, low, high,
        [&input, &strict](RecordKind& kind, std::int32_t& address, std::int32_t& length) {
            return scan_srecord_strictly(input, kind, address, length, strict);
        });
}

int fill_read_buffer(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
                     RecordOutside* outside) {
    // Unlike the first pass, this one starts at the end of the input: without
    // a rewind there would be nothing left to read.
    if (!input.rewind()) {
        return -1;
    }
    std::array<std::uint8_t, record_data_capacity> data{};
    RecordKind kind = RecordKind::header;
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    while (!input.at_end()) {
        const int result = read_srecord(input, kind, address, data_length, data);
        if (result == srec_failed) {
            return -1;
        }
        if (result == srec_no_line) {
            break;
        }
        if (kind != RecordKind::data || data_length <= 0) {
            continue;
        }
        const auto offset = static_cast<std::uint32_t>(address) - static_cast<std::uint32_t>(low);
        const auto length = static_cast<std::size_t>(data_length);
        if (offset > buffer.size() || length > buffer.size() - offset) {
            if (outside != nullptr) {
                *outside = {address, data_length};
            }
            return -1;
        }
        std::memcpy(buffer.data() + offset, data.data(), length);
    }
    return 0;
}

} // namespace imgpack

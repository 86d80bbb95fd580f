#include "image/stream_passes.hpp"

#include "srec/reader.hpp"

#include <array>
#include <cstring>
#include <optional>

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

namespace {

// The fill pass, handing each data record's bytes to `place(offset, bytes)`,
// which returns false to stop the pass.
template <typename Place>
int fill_with(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
              RecordOutside* outside, const Place& place) {
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
        if (!place(offset, std::span<const std::uint8_t>(data.data(), length))) {
            return -1;
        }
    }
    return 0;
}

// The first byte of `bytes` that differs from a byte already written at
// `offset` on, or nullopt when they all agree.
std::optional<std::size_t> first_contradiction(std::span<const std::uint8_t> image,
                                               std::size_t offset,
                                               std::span<const std::uint8_t> bytes,
                                               const CoverageView& coverage) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (image[offset + i] != bytes[i] && coverage.test(offset + i)) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace

int fill_read_buffer(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
                     RecordOutside* outside) {
    return fill_with(input, buffer, low, outside,
                     [buffer](std::size_t offset, std::span<const std::uint8_t> bytes) {
                         std::memcpy(buffer.data() + offset, bytes.data(), bytes.size());
                         return true;
                     });
}

int fill_read_buffer_checked(TextStream& input, std::span<std::uint8_t> buffer, std::int32_t low,
                             FillCheck& check) {
    return fill_with(
        input, buffer, low, &check.outside,
        [&](std::size_t offset, std::span<const std::uint8_t> bytes) {
            // Most records land on bytes no record wrote before.
            if (check.refuse_contradictions && check.coverage.any(offset, bytes.size())) {
                if (const auto at = first_contradiction(buffer, offset, bytes, check.coverage)) {
                    check.contradiction = {
                        input.last_line_number(),
                        wrapping_add(low, static_cast<std::int32_t>(offset + *at)), bytes[*at],
                        buffer[offset + *at]};
                    return false;
                }
            }
            std::memcpy(buffer.data() + offset, bytes.data(), bytes.size());
            check.coverage.mark(offset, bytes.size());
            return true;
        });
}

} // namespace imgpack

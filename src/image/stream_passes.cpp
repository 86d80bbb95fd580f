#include "image/stream_passes.hpp"

#include "srec/reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace imgpack {

namespace {

// Address arithmetic wraps at 32 bits.
std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The preprocess pass over the records that `read_record` delivers; each
// data record is also handed to `see_data(record)`.
template <typename ReadRecord, typename SeeData>
int preprocess_with(TextStream& input, std::int32_t& low, std::int32_t& high,
                    const ReadRecord& read_record, const SeeData& see_data) {
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
        see_data(DataRecord{address, data_length});
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

[[gnu::flatten]] int preprocess_input(TextStream& input, std::int32_t& low, std::int32_t& high) {
    // Only the span is needed here, so the data bytes are checked but not
    // decoded.
    return preprocess_with(
        input, low, high,
        [&input](RecordKind& kind, std::int32_t& address, std::int32_t& length) {
            return scan_srecord(input, kind, address, length);
        },
        [](const DataRecord&) {});
}

[[gnu::flatten]] int preprocess_input_extent(TextStream& input, std::int32_t& low,
                                             std::int32_t& high, Extent& extent) {
    // Kept in locals, which the loop can hold in registers.
    std::uint32_t lowest = UINT32_MAX;
    std::uint64_t end = 0;
    bool any = false;
    const int result = preprocess_with(
        input, low, high,
        [&input](RecordKind& kind, std::int32_t& address, std::int32_t& length) {
            return scan_srecord(input, kind, address, length);
        },
        [&](const DataRecord& record) {
            const auto address = static_cast<std::uint32_t>(record.address);
            lowest = std::min(lowest, address);
            end = std::max(end, std::uint64_t{address} +
                                    static_cast<std::uint32_t>(std::max(record.data_length, 0)));
            any = true;
        });
    extent = {lowest, end, any};
    return result;
}

[[gnu::flatten]] int preprocess_input_checked(TextStream& input, std::int32_t& low,
                                              std::int32_t& high, CheckedReading& reading) {
    return preprocess_with(
        input, low, high,
        [&input, &reading](RecordKind& kind, std::int32_t& address, std::int32_t& length) {
            return scan_srecord_checked(input, kind, address, length, reading);
        },
        [](const DataRecord&) {});
}

void LeftOut::add(const LeftOut& later) noexcept {
    if (!found()) {
        line = later.line;
        address = later.address;
        bytes = later.bytes;
    }
    records += later.records;
    total_bytes += later.total_bytes;
}

namespace {

// The fill pass, handing each data record to `place(address, bytes)`, which
// returns false to stop the pass.
template <typename Place> int fill_with(TextStream& input, const Place& place) {
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
        const std::span<const std::uint8_t> bytes(data.data(),
                                                  static_cast<std::size_t>(data_length));
        if (!place(address, bytes)) {
            return -1;
        }
    }
    return 0;
}

// The offset in `buffer` of the record at `address`, or nullopt when its
// `length` bytes do not all lie inside it.
[[gnu::always_inline]] inline std::optional<std::size_t>
offset_inside(std::span<const std::uint8_t> buffer, std::int32_t low, std::int32_t address,
              std::size_t length) {
    const auto offset = static_cast<std::uint32_t>(address) - static_cast<std::uint32_t>(low);
    if (offset > buffer.size() || length > buffer.size() - offset) {
        return std::nullopt;
    }
    return offset;
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

// Leaves out the bytes of `bytes`, for a record at `address`, that lie outside
// the image (buffer.size() bytes from address `low`, both unsigned), counting
// them in `left_out`. Returns the offset in the image of the bytes left in,
// which `bytes` then holds.
std::size_t clip_to_image(std::span<const std::uint8_t>& bytes, std::size_t image_size,
                          std::uint32_t low, std::uint32_t address, std::uint64_t line,
                          LeftOut& left_out) {
    const std::uint64_t first = address;
    const std::uint64_t end = first + bytes.size();
    const std::uint64_t image_end = std::uint64_t{low} + image_size;
    const std::uint64_t kept_first = std::clamp<std::uint64_t>(first, low, image_end);
    const std::uint64_t kept_end = std::clamp<std::uint64_t>(end, kept_first, image_end);
    const std::uint64_t outside = bytes.size() - (kept_end - kept_first);
    if (outside > 0) {
        // The bytes left out are named by the first of them: the record's
        // own first byte, unless it starts inside the image and runs past it.
        const std::uint64_t first_outside = first < low || first >= image_end ? first : kept_end;
        left_out.add({line, static_cast<std::uint32_t>(first_outside), outside, 1, outside});
    }
    if (kept_end == kept_first) {
        bytes = {}; // all of it lies outside
        return 0;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(kept_first - first),
                          static_cast<std::size_t>(kept_end - kept_first));
    return static_cast<std::size_t>(kept_first - low);
}

} // namespace

[[gnu::flatten]] int fill_read_buffer(TextStream& input, std::span<std::uint8_t> buffer,
                                      std::int32_t low, RecordOutside* outside) {
    return fill_with(input, [&](std::int32_t address, std::span<const std::uint8_t> bytes) {
        const auto offset = offset_inside(buffer, low, address, bytes.size());
        if (!offset) {
            if (outside != nullptr) {
                *outside = {address, static_cast<std::int32_t>(bytes.size())};
            }
            return false;
        }
        std::memcpy(buffer.data() + *offset, bytes.data(), bytes.size());
        return true;
    });
}

[[gnu::flatten]] int fill_read_buffer_checked(TextStream& input, std::span<std::uint8_t> buffer,
                                              std::int32_t low, FillCheck& check) {
    return fill_with(input, [&](std::int32_t address, std::span<const std::uint8_t> bytes) {
        std::size_t offset = 0;
        // Nearly every record lies wholly inside the image.
        if (const auto inside = offset_inside(buffer, low, address, bytes.size())) {
            offset = *inside;
        } else if (check.clip) {
            offset = clip_to_image(bytes, buffer.size(), static_cast<std::uint32_t>(low),
                                   static_cast<std::uint32_t>(address), input.last_line_number(),
                                   check.left_out);
        } else {
            check.outside = {address, static_cast<std::int32_t>(bytes.size())};
            return false;
        }
        if (bytes.empty()) {
            return true; // all of it left out
        }
        if (check.coverage && !check.coverage->mark_if_unwritten(offset, bytes.size())) {
            // Bytes written before: in strict mode they must keep their values.
            if (check.refuse_contradictions) {
                if (const auto at = first_contradiction(buffer, offset, bytes, *check.coverage)) {
                    check.contradiction = {
                        input.last_line_number(),
                        wrapping_add(low, static_cast<std::int32_t>(offset + *at)), bytes[*at],
                        buffer[offset + *at]};
                    return false;
                }
            }
            check.coverage->mark(offset, bytes.size());
        }
        std::memcpy(buffer.data() + offset, bytes.data(), bytes.size());
        return true;
    });
}

} // namespace imgpack

// A whole conversion in memory against a plain reference, written to be
// obviously right rather than fast: the result of each pass, the span and the
// image must agree, whatever the read and block boundaries.

#include "fuzz_input.hpp"
#include "image/passes.hpp"
#include "srec/byte_source.hpp"
#include "srec/reader.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using imgpack::RecordKind;

// --- the reference ------------------------------------------------------------

int digit(char ch) {
    const auto c = static_cast<signed char>(ch);
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return c - 0x57;
}

std::uint32_t value(const std::string& text, std::size_t at, std::size_t digits) {
    std::uint32_t result = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        result = result * 16 + static_cast<std::uint32_t>(digit(text[at + i]));
    }
    return result;
}

// The lines as the text stream must deliver them.
std::vector<std::string> lines_of(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\x1a'));
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        lines.back() += bytes[i];
        if (bytes[i] == '\n' || lines.back().size() == 255) {
            lines.emplace_back();
        }
    }
    if (lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

struct Record {
    int result = imgpack::srec_failed;
    RecordKind kind = RecordKind::header;
    std::int32_t address = 0;
    std::int32_t length = 0;
    std::vector<std::uint8_t> data;
};

// A line is decoded when every field lies within it and its terminating zero.
Record decode(const std::string& line) {
    const std::string buffer = line + '\0';
    Record record;
    const char type = buffer[1];
    if (buffer[0] != 'S' || std::string_view("0123789").find(type) == std::string_view::npos) {
        return record;
    }
    record.result = imgpack::srec_decoded;
    record.kind = type == '0' ? RecordKind::header : RecordKind::termination;
    if (type == '0' || type >= '7') {
        return record;
    }
    const std::size_t address_digits = 2 * static_cast<std::size_t>(type - '0' + 1);
    if (4 + address_digits > buffer.size()) {
        return Record{};
    }
    record.kind = RecordKind::data;
    record.address = static_cast<std::int32_t>(value(buffer, 4, address_digits));
    record.length = static_cast<std::int32_t>(value(buffer, 2, 2)) -
                    static_cast<std::int32_t>(address_digits / 2) - 1;
    for (std::int32_t i = 0; i < record.length; ++i) {
        const std::size_t at = 4 + address_digits + 2 * static_cast<std::size_t>(i);
        if (at + 2 > buffer.size()) {
            return Record{};
        }
        record.data.push_back(static_cast<std::uint8_t>(value(buffer, at, 2)));
    }
    return record;
}

// --- the comparison -----------------------------------------------------------

void check(bool agreed) {
    if (!agreed) {
        std::abort();
    }
}

void compare_conversion(const imgpack::fuzz::FuzzInput& input, const std::vector<Record>& records) {
    std::int32_t low = 0x7FFFFFFF;
    std::int32_t high = 0;
    std::size_t good = 0;
    for (; good < records.size() && records[good].result == imgpack::srec_decoded; ++good) {
        const Record& r = records[good];
        if (r.kind == RecordKind::data) {
            low = std::min(low, r.address);
            high =
                std::max(high, static_cast<std::int32_t>(static_cast<std::uint32_t>(r.address) +
                                                         static_cast<std::uint32_t>(r.length) - 1));
        }
    }
    imgpack::MemorySource source(input.bytes, input.max_read);
    imgpack::TextStream stream(source, input.block_size);
    std::int32_t got_low = 0x5A5A5A5A; // the pass must set both itself
    std::int32_t got_high = 0x5A5A5A5A;
    const int result = imgpack::preprocess_input(stream, got_low, got_high);
    check(result == (good == records.size() ? 0 : -1));
    if (result != 0) {
        return;
    }
    check(got_low == low && got_high == high);
    const std::int64_t size = std::int64_t{high} - low + 1;
    if (size < 0 || size > (1 << 20)) {
        return; // the driver refuses the size; large images are left out to keep fuzzing fast
    }
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(size), 0xFF);
    int expected_result = 0;
    for (const Record& r : records) {
        const std::int64_t offset = std::int64_t{r.address} - low;
        if (r.kind != RecordKind::data || r.length <= 0) {
            continue;
        }
        if (offset < 0 || offset + r.length > size) {
            expected_result = -1;
            break;
        }
        std::copy(r.data.begin(), r.data.end(), expected.begin() + offset);
    }
    std::vector<std::uint8_t> image(expected.size(), 0xFF);
    check(imgpack::fill_read_buffer(stream, image, low) == expected_result);
    check(expected_result != 0 || image == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = imgpack::fuzz::fuzz_input(data, size);
    std::vector<Record> records;
    for (const std::string& line : lines_of(input.bytes)) {
        records.push_back(decode(line));
    }
    compare_conversion(input, records);
    return 0;
}

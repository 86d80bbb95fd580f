// A whole conversion in memory against a plain reference, written to be
// obviously right rather than fast: the result of each pass, the span and the
// image must agree, whatever the read and block boundaries, on one stream and
// cut into 2 to 8 chunks at points taken from the input, in default and in
// strict mode (where the first rejected line's number must agree too).

#include "fuzz_input.hpp"
#include "image/builder.hpp"
#include "image/chunking.hpp"
#include "image/crc32.hpp"
#include "image/stream_passes.hpp"
#include "memory_input.hpp"
#include "srec/reader.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>
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

// A whole, well-formed record: hexadecimal digits after the type, as many as
// the count asks for, a count that covers the address and the checksum, and
// bytes that add up to 0xFF with the checksum.
bool well_formed(std::string_view line) {
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (line.size() < 4 || line.size() > 254 || line[0] != 'S' ||
        std::string_view("0123789").find(line[1]) == std::string_view::npos ||
        !std::all_of(line.begin() + 2, line.end(), hex)) {
        return false;
    }
    const std::string text(line);
    const std::size_t count = value(text, 2, 2);
    const auto address_bytes = static_cast<std::size_t>("2234000432"[line[1] - '0'] - '0');
    unsigned sum = 0;
    for (std::size_t i = 0; 2 + 2 * i + 1 < line.size(); ++i) {
        sum += value(text, 2 + 2 * i, 2);
    }
    return line.size() == 4 + 2 * count && count > address_bytes && (sum & 0xFFU) == 0xFFU;
}

struct Record {
    bool complete = false; // the line ended in a line feed
    int result = imgpack::srec_failed;
    RecordKind kind = RecordKind::header;
    std::int32_t address = 0;
    std::int32_t length = 0;
    std::vector<std::uint8_t> data;
    bool well_formed = false;
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

// The two passes under test, on one stream or in chunks.
struct Passes {
    std::function<int(std::int32_t&, std::int32_t&, imgpack::CheckedReading*)> preprocess;
    std::function<int(std::span<std::uint8_t>, std::int32_t, imgpack::Coverage*)> fill;
};

void compare_conversion(const std::vector<Record>& records, bool strict, const Passes& passes) {
    std::int32_t low = 0x7FFFFFFF;
    std::int32_t high = 0;
    std::size_t good = 0;
    std::uint64_t complete_lines = 0;
    for (; good < records.size(); ++good) {
        const Record& r = records[good];
        // Strict mode also refuses data records from 0x80000000 up.
        if (r.result != imgpack::srec_decoded ||
            (strict && (!r.well_formed || (r.kind == RecordKind::data && r.address < 0)))) {
            break;
        }
        complete_lines += r.complete ? 1 : 0;
        if (r.kind == RecordKind::data) {
            low = std::min(low, r.address);
            high =
                std::max(high, static_cast<std::int32_t>(static_cast<std::uint32_t>(r.address) +
                                                         static_cast<std::uint32_t>(r.length) - 1));
        }
    }
    imgpack::CheckedReading reading;
    std::int32_t got_low = 0x5A5A5A5A; // the pass must set both itself
    std::int32_t got_high = 0x5A5A5A5A;
    const int result = passes.preprocess(got_low, got_high, strict ? &reading : nullptr);
    check(result == (good == records.size() ? 0 : -1));
    if (result != 0) {
        check(!strict || reading.complete_lines == complete_lines);
        return;
    }
    check(got_low == low && got_high == high);
    const std::int64_t size = std::int64_t{high} - low + 1;
    if (size < 0 || size > (1 << 20)) {
        return; // the driver refuses the size; large images are left out to keep fuzzing fast
    }
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(size), 0xFF);
    std::vector<bool> written(expected.size());
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
        const auto at = static_cast<std::size_t>(offset);
        for (std::size_t i = 0; strict && i < r.data.size(); ++i) {
            expected_result = written[at + i] && expected[at + i] != r.data[i] ? -1 : 0;
            if (expected_result != 0) {
                break; // strict mode refuses a byte written twice differently
            }
        }
        if (expected_result != 0) {
            break;
        }
        for (std::size_t i = 0; i < r.data.size(); ++i) {
            expected[at + i] = r.data[i];
            written[at + i] = true;
        }
    }
    std::vector<std::uint8_t> image(expected.size(), 0xFF);
    auto coverage = imgpack::Coverage::allocate(image.size());
    check(coverage.has_value());
    check(passes.fill(image, low, strict ? &*coverage : nullptr) == expected_result);
    check(expected_result != 0 || image == expected);
    for (std::size_t i = 0; strict && expected_result == 0 && i < written.size(); ++i) {
        check(coverage->test(i) == written[i]);
    }
}

// CRC-32 bit by bit, the reflected polynomial 0xEDB88320.
std::uint32_t crc32_reference(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1U) != 0 ? 0xEDB88320U : 0U);
        }
    }
    return ~crc;
}

// An image the caller places: a window near the records, a fill byte and a
// CRC address, all drawn from the hash. Record bytes outside the window are
// left out and counted; the CRC is stored only inside the window and off the
// records' bytes. One stream and chunks must both give the reference.
void compare_placed(const std::vector<Record>& records, imgpack::Input& input, std::uint64_t hash,
                    std::size_t threads) {
    std::uint64_t lowest = UINT32_MAX;
    for (const Record& r : records) {
        if (r.result != imgpack::srec_decoded) {
            return; // the preprocess pass fails, as compared above
        }
        if (r.kind == RecordKind::data) {
            lowest = std::min<std::uint64_t>(lowest, static_cast<std::uint32_t>(r.address));
        }
    }
    const std::uint64_t start = lowest > 8 ? lowest - hash % 8 : 0;
    const std::uint64_t end = std::min<std::uint64_t>(start + 1 + (hash >> 8) % 512, 1ULL << 32);
    const auto fill = static_cast<std::uint8_t>(hash >> 20);
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(end - start), fill);
    std::vector<bool> written(expected.size());
    std::uint64_t left_records = 0;
    std::uint64_t left_bytes = 0;
    std::uint64_t line = 1;
    imgpack::LeftOut first_left_out;
    for (const Record& r : records) {
        std::uint64_t outside = 0;
        std::uint64_t first_outside = 0;
        for (std::size_t i = 0; r.kind == RecordKind::data && i < r.data.size(); ++i) {
            const std::uint64_t at = std::uint64_t{static_cast<std::uint32_t>(r.address)} + i;
            if (at >= start && at < end) {
                expected[static_cast<std::size_t>(at - start)] = r.data[i];
                written[static_cast<std::size_t>(at - start)] = true;
            } else if (outside++ == 0) {
                first_outside = at;
            }
        }
        if (outside > 0 && left_records++ == 0) {
            first_left_out = {line, static_cast<std::uint32_t>(first_outside), outside, 0, 0};
        }
        left_bytes += outside;
        line += r.complete ? 1 : 0;
    }
    imgpack::ImageBuilder builder(input, imgpack::Reading{false, true, true},
                                  imgpack::Threading{threads, 0});
    std::int32_t low = 0;
    std::int32_t high = 0;
    check(builder.preprocess(low, high).ok());
    std::vector<std::uint8_t> image(expected.size(), fill);
    auto coverage = imgpack::Coverage::allocate(image.size());
    check(coverage.has_value());
    const auto filled = builder.fill(image, static_cast<std::int32_t>(start), &*coverage);
    check(filled.ok() && image == expected);
    check(filled.left_out.records == left_records && filled.left_out.total_bytes == left_bytes);
    check(left_records == 0 || (filled.left_out.line == first_left_out.line &&
                                filled.left_out.address == first_left_out.address &&
                                filled.left_out.bytes == first_left_out.bytes));
    std::vector<bool> runs(written.size());
    coverage->for_each_run([&runs](std::size_t offset, std::size_t length) {
        check(length > 0 && (offset == 0 || !runs[offset - 1])); // touching runs are one
        std::fill_n(runs.begin() + static_cast<std::ptrdiff_t>(offset), length, true);
    });
    check(runs == written);
    for (std::size_t i = 0; i < written.size(); ++i) {
        check(coverage->test(i) == written[i]);
    }
    const std::uint64_t crc_at = start + (hash >> 32) % (expected.size() + 8);
    auto result = imgpack::CrcStore::outside;
    if (crc_at + 4 <= end) {
        const auto offset = static_cast<std::size_t>(crc_at - start);
        result = imgpack::CrcStore::over_data;
        if (!written[offset] && !written[offset + 1] && !written[offset + 2] &&
            !written[offset + 3]) {
            result = imgpack::CrcStore::stored;
            const std::uint32_t crc = crc32_reference(expected, offset);
            for (std::size_t i = 0; i < 4; ++i) {
                expected[offset + i] = static_cast<std::uint8_t>(crc >> (8 * i));
            }
        }
    }
    check(imgpack::store_crc32(image, static_cast<std::uint32_t>(start), crc_at, *coverage) ==
          result);
    check(image == expected);
}

// Where to cut: 1 to 7 offsets taken from the hash, in rising order.
std::vector<std::uint64_t> cuts_for(const imgpack::fuzz::FuzzInput& input) {
    std::vector<std::uint64_t> cuts(1 + static_cast<std::size_t>(input.hash % 7));
    std::uint64_t state = input.hash;
    for (auto& cut : cuts) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        cut = (state >> 33) % (input.bytes.size() + 1);
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = imgpack::fuzz::fuzz_input(data, size);
    std::vector<Record> records;
    for (const std::string& line : lines_of(input.bytes)) {
        records.push_back(decode(line));
        records.back().complete = line.back() == '\n';
        records.back().well_formed = well_formed(line);
    }
    for (const std::size_t threads : {1U, 2U + static_cast<unsigned>(input.hash % 7)}) {
        imgpack::test::MemoryInput placed(input.bytes, input.max_read);
        compare_placed(records, placed, input.hash, threads);
    }
    for (const bool strict : {false, true}) {
        imgpack::test::MemoryInput one(input.bytes, input.max_read);
        imgpack::TextStream stream(one, input.block_size);
        compare_conversion(
            records, strict,
            {[&](std::int32_t& low, std::int32_t& high, imgpack::CheckedReading* s) {
                 return s != nullptr ? imgpack::preprocess_input_checked(stream, low, high, *s)
                                     : imgpack::preprocess_input(stream, low, high);
             },
             [&](std::span<std::uint8_t> image, std::int32_t low, imgpack::Coverage* coverage) {
                 if (coverage == nullptr) {
                     return imgpack::fill_read_buffer(stream, image, low);
                 }
                 imgpack::FillCheck checked{
                     imgpack::CoverageView(*coverage), true, false, {}, {}, {}};
                 return imgpack::fill_read_buffer_checked(stream, image, low, checked);
             }});

        imgpack::test::MemoryInput whole(input.bytes, input.max_read);
        auto chunks = imgpack::Chunking::split_at(whole, cuts_for(input));
        if (chunks) {
            compare_conversion(
                records, strict,
                {[&](std::int32_t& low, std::int32_t& high, imgpack::CheckedReading* s) {
                     return chunks->preprocess(low, high, s);
                 },
                 [&](std::span<std::uint8_t> image, std::int32_t low, imgpack::Coverage* coverage) {
                     if (coverage == nullptr) {
                         return chunks->fill(image, low);
                     }
                     imgpack::FillCheck checked{
                         imgpack::CoverageView(*coverage), true, false, {}, {}, {}};
                     return chunks->fill_checked(image, low, coverage, checked);
                 }});
        }
    }
    return 0;
}

#include "srec/byte_source.hpp"
#include "srec/reader.hpp"
#include "support/records.hpp"

#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::ramp;
using test::record;

struct Decoded {
    int result = srec_failed;
    RecordKind kind = RecordKind::header;
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    Bytes data; // the first data_length bytes, for a data record
};

// Reads one line from `input` through the reader. The outputs start with
// marker values so that a test can see which ones were written.
Decoded read_one(const std::string& input) {
    MemorySource source(input);
    TextStream stream(source);
    Decoded decoded;
    decoded.kind = static_cast<RecordKind>(99);
    decoded.address = 0x5A5A5A5A;
    decoded.data_length = 0x5A5A5A5A;
    std::array<std::uint8_t, record_data_capacity> data{};
    decoded.result = read_srecord(stream, decoded.kind, decoded.address, decoded.data_length, data);
    if (decoded.result == srec_decoded && decoded.kind == RecordKind::data &&
        decoded.data_length > 0) {
        decoded.data.assign(data.begin(), data.begin() + decoded.data_length);
    }
    return decoded;
}

constexpr auto untouched = static_cast<RecordKind>(99);
constexpr std::int32_t unset = 0x5A5A5A5A;

struct DataCase {
    const char* name;
    std::string line;
    std::int32_t address;
    std::int32_t data_length;
    Bytes data;
};

TEST(ReadSrecord, DecodesDataRecords) {
    const std::vector<DataCase> cases{
        {"S1, 16 bytes", record(1, 0x0000, ramp(16)) + "\n", 0x0000, 16, ramp(16)},
        {"S1, wrong checksum decodes the same", "S1130000000102030405060708090A0B0C0D0E0F00\n",
         0x0000, 16, ramp(16)},
        {"S2", record(2, 0x123456, {0xAA}) + "\n", 0x123456, 1, {0xAA}},
        {"S3 negative address",
         record(3, 0xFFFF0000, {1, 2}) + "\n",
         static_cast<std::int32_t>(0xFFFF0000U),
         2,
         {1, 2}},
        {"lower-case digits", "S1051a2bc3d4e5\n", 0x1A2B, 2, {0xC3, 0xD4}},
        {"CR LF line end", record(1, 0x10, {7}) + "\r\n", 0x10, 1, {7}},
        {"last line without LF", record(1, 0x10, {7}), 0x10, 1, {7}},
        {"count 03: no data", "S1030100FB\n", 0x0100, 0, {}},
        {"count 02: negative length, nothing decoded", "S1020100\n", 0x0100, -1, {}},
        {"G in data is -16, no failure", "S1040000G0\n", 0, 1, {0x00}},
        {"address from 0, 0, LF and the terminating zero", "S10300\n", -1319, 0, {}},
        {"checksum and trailing text ignored", "S1040000AB?? trailing\n", 0, 1, {0xAB}},
        {"data ending on the line feed", "S10400001\n", 0, 1, {static_cast<std::uint8_t>(16 - 77)}},
        {"the largest line: S1 with 122 bytes", record(1, 0x2000, ramp(122)) + "\n", 0x2000, 122,
         ramp(122)},
        {"S3 with 120 bytes", record(3, 0x2000, ramp(120)) + "\n", 0x2000, 120, ramp(120)},
        {"zero byte inside the data",
         "S1040000\0\x31\n"s,
         0,
         1,
         {static_cast<std::uint8_t>(-87 * 16 + 1)}},
    };
    for (const auto& c : cases) {
        const auto decoded = read_one(c.line);
        ASSERT_EQ(decoded.result, srec_decoded) << c.name;
        EXPECT_EQ(decoded.kind, RecordKind::data) << c.name;
        EXPECT_EQ(decoded.address, c.address) << c.name;
        EXPECT_EQ(decoded.data_length, c.data_length) << c.name;
        EXPECT_EQ(decoded.data, c.data) << c.name;
    }
}

struct KindCase {
    std::string line;
    RecordKind kind;
};

TEST(ReadSrecord, HeaderAndTerminationSetTheKindOnly) {
    const std::vector<KindCase> cases{
        {"S00600004844521B\n", RecordKind::header},
        {"S0\n", RecordKind::header},
        {"S0", RecordKind::header},
        {"S0 whatever follows\n", RecordKind::header},
        {"S70500000000FA\n", RecordKind::termination},
        {"S804000000FB\n", RecordKind::termination},
        {"S9030000FC\n", RecordKind::termination},
        {"S9", RecordKind::termination},
    };
    for (const auto& c : cases) {
        const auto decoded = read_one(c.line);
        ASSERT_EQ(decoded.result, srec_decoded) << c.line;
        EXPECT_EQ(decoded.kind, c.kind) << c.line;
        EXPECT_EQ(decoded.address, unset) << c.line;
        EXPECT_EQ(decoded.data_length, unset) << c.line;
    }
}

TEST(ReadSrecord, RejectsBadLinesWithoutWritingOutputs) {
    const std::vector<std::pair<const char*, std::string>> cases{
        {"lower-case s", "s1030000FC\n"},
        {"S4", "S4030000FC\n"},
        {"S5 record count", "S5030001FB\n"},
        {"S6 record count", "S604000001FA\n"},
        {"letter as type", "SA030000FC\n"},
        {"type missing", "S\n"},
        {"blank line", "\n"},
        {"CR LF blank line", "\r\n"},
        {"leading space", " S1030000FC\n"},
        {"byte-order mark", "\xEF\xBB\xBFS1030000FC\n"},
        {"count field cut short", "S1"},
        {"address field past the terminating zero", "S103\n"},
        {"S3 address cut short", "S3090000\n"},
        {"count asks for more data than the line holds", "S1130000AABB\n"},
        {"data one character past the terminating zero", "S10500001\n"},
    };
    for (const auto& [name, line] : cases) {
        const auto decoded = read_one(line);
        EXPECT_EQ(decoded.result, srec_failed) << name;
        EXPECT_EQ(decoded.kind, untouched) << name;
        EXPECT_EQ(decoded.address, unset) << name;
        EXPECT_EQ(decoded.data_length, unset) << name;
    }
}

TEST(ReadSrecord, ReportsAnExhaustedStream) {
    for (const std::string& input : {""s, "\x1a"s, "\x1aS1030000FC\n"s}) {
        const auto decoded = read_one(input);
        EXPECT_EQ(decoded.result, srec_no_line);
        EXPECT_EQ(decoded.kind, untouched);
    }
}

// Reads `input` record by record and returns each result.
std::vector<int> read_results(const std::string& input) {
    MemorySource source(input);
    TextStream stream(source);
    RecordKind kind{};
    std::int32_t address = 0;
    std::int32_t length = 0;
    std::array<std::uint8_t, record_data_capacity> data{};
    std::vector<int> results;
    while (!stream.at_end()) {
        const int result = read_srecord(stream, kind, address, length, data);
        if (result == srec_no_line) {
            break;
        }
        results.push_back(result);
    }
    return results;
}

TEST(ReadSrecord, LineOf255CharactersLeavesItsLineFeedAsABlankLine) {
    const std::string line = record(1, 0, ramp(122)) + "X\n"; // 254 + 1 characters
    EXPECT_EQ(read_results(line), (std::vector<int>{srec_decoded, srec_failed}));
}

TEST(ReadSrecord, FieldsMayEndOnTheTerminatingZeroOfASplitLine) {
    // 258 characters: the first 255 hold 124 data bytes whose last digit is
    // the terminating zero; the rest of the line does not start with S.
    const std::string line = record(1, 0, ramp(124)) + "\n";
    EXPECT_EQ(read_results(line), (std::vector<int>{srec_decoded, srec_failed}));
}

} // namespace
} // namespace imgpack

namespace imgpack {
namespace {

TEST(DecodeSrecord, DecodesALineGivenWithItsTerminatingZero) {
    RecordKind kind{};
    std::int32_t address = 0;
    std::int32_t length = 0;
    std::array<std::uint8_t, record_data_capacity> data{};
    // S, 1, 0, 3, 0, 0, LF and the terminating zero: the address field ends on the zero.
    EXPECT_EQ(decode_srecord(std::string_view("S10300\n\0", 8), kind, address, length, data),
              srec_decoded);
    EXPECT_EQ(kind, RecordKind::data);
    EXPECT_EQ(address, static_cast<std::int32_t>(0xFFFFFAD9U));
    EXPECT_EQ(length, 0);
    // One character shorter, the address field would run past the zero.
    EXPECT_EQ(decode_srecord(std::string_view("S1030\n\0", 7), kind, address, length, data),
              srec_failed);
}

} // namespace
} // namespace imgpack

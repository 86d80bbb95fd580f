#include "image/passes.hpp"
#include "srec/byte_source.hpp"
#include "support/records.hpp"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using test::Bytes;
using test::lines;
using test::ramp;
using test::record;

struct Span {
    int result = 0;
    std::int32_t low = 0;
    std::int32_t high = 0;
};

Span preprocess(const std::string& input) {
    MemorySource source(input);
    TextStream stream(source);
    Span span;
    span.result = preprocess_input(stream, span.low, span.high);
    return span;
}

constexpr std::int32_t as_signed(std::uint32_t pattern) {
    return static_cast<std::int32_t>(pattern);
}

struct SpanCase {
    const char* name;
    std::string input;
    std::int32_t low;
    std::int32_t high;
};

TEST(PreprocessInput, FindsTheSpanOfTheDataRecords) {
    const std::vector<SpanCase> cases{
        {"one S1 record", lines({record(1, 0x1000, ramp(16))}), 0x1000, 0x100F},
        {"file order does not matter",
         lines({record(1, 0x8000, ramp(16)), record(1, 0x0000, ramp(16))}), 0x0000, 0x800F},
        {"header and termination records have no effect",
         lines({record(0, 0, {'H'}), record(1, 0x10, ramp(4)), record(9, 0xFFFF)}), 0x10, 0x13},
        {"records after S9 count",
         lines({record(1, 0x10, ramp(4)), record(9, 0), record(1, 0x40, ramp(4))}), 0x10, 0x43},
        {"no data record", lines({record(0, 0), record(9, 0)}), 0x7FFFFFFF, 0},
        {"empty input", "", 0x7FFFFFFF, 0},
        {"0x1A first", "\x1a" + lines({record(1, 0, ramp(4))}), 0x7FFFFFFF, 0},
        {"data after 0x1A is never read",
         lines({record(1, 0x10, ramp(4))}) + "\x1a" + lines({record(1, 0x9000, ramp(4))}), 0x10,
         0x13},
        {"negative addresses: HiAddr stays 0", lines({record(3, 0xFFFF0000, ramp(16))}),
         as_signed(0xFFFF0000), 0},
        {"zero-length record lowers LowAddr, end a - 1", lines({record(1, 0x0100)}), 0x0100, 0xFF},
        {"zero-length record at 0", lines({record(1, 0)}), 0, 0},
        {"negative data length", "S1020200\n", 0x0200, 0x01FE},
        {"end address wraps past 0x7FFFFFFF and does not raise HiAddr",
         lines({record(3, 0x7FFFFFF0, ramp(32))}), 0x7FFFFFF0, 0},
        {"zero-length S3 at 0x80000000: end wraps to 0x7FFFFFFF", lines({record(3, 0x80000000)}),
         as_signed(0x80000000), 0x7FFFFFFF},
        {"S2 above S1", lines({record(2, 0x010000, ramp(8)), record(1, 0, ramp(2))}), 0, 0x010007},
    };
    for (const auto& c : cases) {
        const auto span = preprocess(c.input);
        EXPECT_EQ(span.result, 0) << c.name;
        EXPECT_EQ(span.low, c.low) << c.name;
        EXPECT_EQ(span.high, c.high) << c.name;
    }
}

TEST(PreprocessInput, FailsOnTheFirstBadLine) {
    for (const std::string& bad : {std::string("S5030001FB"), std::string(""), std::string("x")}) {
        const auto input = lines({record(1, 0, ramp(4)), bad, record(1, 0x100, ramp(4))});
        EXPECT_EQ(preprocess(input).result, -1) << bad;
    }
}

// Runs both passes over `input` into an image of the span's size, preset to
// 0xFF, as the driver does.
constexpr int not_allocated = -2; // the driver would refuse the size

struct Image {
    int fill_result = 0;
    Bytes bytes;
};

Image convert(const std::string& input, std::size_t block_size = TextStream::default_block_size) {
    MemorySource source(input);
    TextStream stream(source, block_size);
    std::int32_t low = 0;
    std::int32_t high = 0;
    EXPECT_EQ(preprocess_input(stream, low, high), 0);
    const auto size = static_cast<std::uint32_t>(high) - static_cast<std::uint32_t>(low) + 1U;
    Image image;
    if (size > 0x7FFFFFFFU) {
        image.fill_result = not_allocated;
        return image;
    }
    image.bytes.assign(size, 0xFF);
    image.fill_result = fill_read_buffer(stream, image.bytes, low);
    return image;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct FillCase {
    const char* name;
    std::string input;
    Bytes image;
};

TEST(FillReadBuffer, CopiesEveryDataRecordAtItsOffset) {
    const std::vector<FillCase> cases{
        {"gap stays 0xFF",
         lines({record(0, 0, {'h'}), record(1, 0x00, ramp(16, 0x00)),
                record(1, 0x10, ramp(16, 0x10)), record(1, 0x20, ramp(16, 0x20)),
                record(1, 0x40, ramp(16, 0x40)), record(9, 0)}),
         concat({ramp(0x30), Bytes(16, 0xFF), ramp(16, 0x40)})},
        {"later record wins on overlap",
         lines({record(1, 0x00, Bytes(16, 0x11)), record(1, 0x08, {0x22})}),
         concat({Bytes(8, 0x11), {0x22}, Bytes(7, 0x11)})},
        {"records in any order",
         lines({record(1, 0x4, {4, 5}), record(1, 0x0, {0, 1})}),
         {0, 1, 0xFF, 0xFF, 4, 5}},
        {"negative address at the start of the image",
         lines({record(3, 0xFFFFFFFE, {1, 2})}),
         {1, 2, 0xFF}},
        {"CR LF file", lines({record(1, 0x0, {1}), record(1, 0x2, {3})}, "\r\n"), {1, 0xFF, 3}},
        {"record after S9 copied", lines({record(9, 0), record(1, 0, {9})}), {9}},
        {"negative data length copies nothing",
         lines({record(1, 0, {1, 2, 3})}) + "S1020001\n",
         {1, 2, 3}},
    };
    for (const auto& c : cases) {
        for (const std::size_t block :
             {std::size_t{1}, std::size_t{7}, TextStream::default_block_size}) {
            const auto image = convert(c.input, block);
            EXPECT_EQ(image.fill_result, 0) << c.name;
            EXPECT_EQ(image.bytes, c.image) << c.name << ", block size " << block;
        }
    }
}

TEST(FillReadBuffer, S3AtNegativeAddressGivesImageUpToZero) {
    const auto image = convert(lines({record(3, 0xFFFF0000, ramp(16))}));
    ASSERT_EQ(image.fill_result, 0);
    ASSERT_EQ(image.bytes.size(), 65537U);
    EXPECT_EQ(Bytes(image.bytes.begin(), image.bytes.begin() + 16), ramp(16));
    EXPECT_EQ(std::count(image.bytes.begin() + 16, image.bytes.end(), 0xFF), 65537 - 16);
}

TEST(FillReadBuffer, FailsOnARecordOutsideTheBuffer) {
    // The end address wraps past 0x7FFFFFFF, so the span (here of size 0)
    // does not cover the record.
    EXPECT_EQ(convert(lines({record(3, 0x7FFFFFF8, ramp(16)), record(3, 0x7FFFFFF0)})).fill_result,
              -1);

    // A buffer smaller than the input says (the file changed between passes).
    const auto input = lines({record(1, 0x10, ramp(8))});
    MemorySource source(input);
    TextStream stream(source);
    for (const std::int32_t low : {0x10, 0x11, 0x0A}) {
        Bytes buffer(7, 0xFF);
        EXPECT_EQ(fill_read_buffer(stream, buffer, low), -1) << low;
        EXPECT_EQ(buffer, Bytes(7, 0xFF)) << "nothing written for low " << low;
    }
}

TEST(FillReadBuffer, EmptyBufferTakesOnlyEmptyRecords) {
    // The exactly-4-GiB span wraps to size 0: a record with data cannot fit.
    const auto input = lines({record(3, 0x80000000), record(3, 0x7FFFFFFF)});
    MemorySource source(input);
    TextStream stream(source);
    EXPECT_EQ(fill_read_buffer(stream, {}, as_signed(0x80000000)), 0);
    const auto with_data = lines({record(3, 0x80000000), record(3, 0x7FFFFFFF, {1})});
    MemorySource data_source(with_data);
    TextStream data_stream(data_source);
    EXPECT_EQ(fill_read_buffer(data_stream, {}, as_signed(0x80000000)), -1);
}

TEST(FillReadBuffer, FailsWhenTheInputCannotBeRewound) {
    const auto input = lines({record(1, 0, {1})});
    MemorySource source(input);
    TextStream stream(source);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_EQ(preprocess_input(stream, low, high), 0);
    source.forbid_rewind();
    Bytes buffer(1, 0xFF);
    EXPECT_EQ(fill_read_buffer(stream, buffer, low), -1);
}

TEST(FillReadBuffer, FailsOnAReadError) {
    const auto input = lines(std::vector<std::string>(100, record(1, 0, ramp(16))));
    MemorySource source(input, 64);
    TextStream stream(source, 64);
    std::int32_t low = 0;
    std::int32_t high = 0;
    ASSERT_EQ(preprocess_input(stream, low, high), 0);
    ASSERT_TRUE(stream.rewind());
    source.fail_after(1000);
    Bytes buffer(16, 0xFF);
    EXPECT_EQ(fill_read_buffer(stream, buffer, low), -1);
}

} // namespace
} // namespace imgpack

// End to end on generated files of a few megabytes: srecgen writes records
// with gaps, CR LF line ends and every address size, imgpack converts them
// through its file reader (so lines cross the 256 KiB read blocks), and the
// image is checked against one built from the plain reference reader.

#include "reference/reference_reader.hpp"
#include "support/process.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

// The image that the reference reader's records describe, span rules included.
std::string expected_image(const std::string& input) {
    const auto span = reference::preprocess(input);
    EXPECT_EQ(span.preprocess_result, 0);
    EXPECT_GT(span.size, 0);
    const auto image = reference::fill(input, span.low, static_cast<std::size_t>(span.size));
    EXPECT_EQ(image.fill_result, 0);
    return {image.bytes.begin(), image.bytes.end()};
}

struct GeneratedCase {
    const char* name;
    std::vector<std::string> options;
};

TEST(Generated, ConvertsLikeTheReference) {
    const std::vector<GeneratedCase> cases{
        {"S3, 32 bytes, LF", {"--size", "3M", "--type", "3", "--data", "32"}},
        {"S3, 120 bytes, CR LF, gaps",
         {"--size", "2M", "--type", "3", "--data", "120", "--crlf", "--run", "7", "--gap", "77"}},
        {"S2, 64 bytes, start 0x123456",
         {"--size", "1M", "--type", "2", "--data", "64", "--start", "0x123456"}},
        {"S1, 16 bytes, gaps, no header or termination",
         {"--size", "600K", "--type", "1", "--data", "16", "--run", "5", "--gap", "3",
          "--no-header", "--no-termination"}},
        {"S3 below address 0",
         {"--size", "1M", "--type", "3", "--data", "32", "--start", "0xFFFF0000"}},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        auto options = c.options;
        options.push_back((dir / "in.s19").string());
        const auto generated = test::run_process(IMGPACK_SRECGEN, options);
        ASSERT_EQ(generated.exit_status, 0) << c.name << ": " << generated.err;
        const auto converted = test::run_process(
            IMGPACK_BINARY, {(dir / "in.s19").string(), (dir / "out.bin").string()});
        EXPECT_EQ(converted.out, "") << c.name;
        EXPECT_EQ(converted.exit_status, 0) << c.name;
        const std::string input = test::read_file(dir / "in.s19");
        EXPECT_TRUE(test::read_file(dir / "out.bin") == expected_image(input)) << c.name;
    }
}

} // namespace
} // namespace imgpack

// IMGPACK_OPTIONS as the program reads it: each kind of mistake with its exact
// line, the forms that are accepted, and the manual page's option list.

#include "cli/options.hpp"
#include "manual_page.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace imgpack {
namespace {

const std::string known = " (known: --strict --fill --start --end --crc32 --map)";

std::string error_of(const std::string& text) {
    const ParsedOptions parsed = parse_options(text);
    return parsed.options ? "(accepted)" : parsed.error;
}

TEST(Options, MalformedOrOutOfRangeNumbers) {
    for (const std::string value : {"0x100", "256", "-1", "+1", "0x", "1k", "0x0x1", "1.0"}) {
        EXPECT_EQ(error_of("--fill=" + value),
                  "imgpack: IMGPACK_OPTIONS: --fill: '" + value + "' is not a byte (0 to 0xFF)");
    }
    for (const std::string value : {"0x1G", "0x100000000", "99999999999999999999999"}) {
        EXPECT_EQ(error_of("--start " + value), "imgpack: IMGPACK_OPTIONS: --start: '" + value +
                                                    "' is not an address (0 to 0xFFFFFFFF)");
    }
}

TEST(Options, EachMistakeGivesItsLine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"--fil=0x00", "unknown option '--fil'" + known},
        {"--strict --Fill 1", "unknown option '--Fill'" + known},
        {"--fil --fill=0x100", "unknown option '--fil'" + known},
        {"fill=0", "'fill=0' is not an option" + known},
        {"--strict -v", "'-v' is not an option" + known},
        {"--fill", "--fill: needs a value (--fill=BYTE)"},
        {"--fill=", "--fill: needs a value (--fill=BYTE)"},
        {"--start --map", "--start: needs a value (--start=ADDR)"},
        {"--map=1", "--map: takes no value, got '1'"},
        {"--strict --strict", "--strict: given twice"},
        {"--fill=1 --fill 2", "--fill: given twice"},
        {"--end=0", "--end: '0' is not an address (1 to 0x100000000)"},
        {"--end=4294967297", "--end: '4294967297' is not an address (1 to 0x100000000)"},
        {"--crc32=0xFFFFFFFD", "--crc32: '0xFFFFFFFD' is not an address (0 to 0xFFFFFFFC)"},
        {"--start=0x800 --end=0x800", "--end: 0x00000800 is not above --start 0x00000800"},
        {"--end=16 --start=32", "--end: 0x00000010 is not above --start 0x00000020"},
        {"--start=0x100 --end=0x200 --crc32=0xFC",
         "--crc32: 0x000000FC..0x000000FF is not inside the image 0x00000100..0x000001FF"},
        {"--crc32=0x1FD --start=0x100 --end=0x200",
         "--crc32: 0x000001FD..0x00000200 is not inside the image 0x00000100..0x000001FF"},
    };
    for (const auto& [text, line] : cases) {
        EXPECT_EQ(error_of(text), "imgpack: IMGPACK_OPTIONS: " + line) << text;
    }
}

TEST(Options, AcceptedForms) {
    const std::vector<std::pair<std::string, Options>> cases{
        {"", {}},
        {" \t\n ", {}},
        {"--strict --map", {.strict = true, .map = true, .any = true}},
        {"--fill=0x00", {.fill = 0, .any = true}},
        {"--fill 255", {.fill = 255, .any = true}},
        {"--fill=0XaB", {.fill = 0xAB, .any = true}},
        {"--fill=010", {.fill = 10, .any = true}},
        {"\t--start=0x08000000\n--end 0x08080000  --crc32=0x0807FFFC\n",
         {.start = 0x08000000, .end = 0x08080000, .crc32 = 0x0807FFFC, .any = true}},
        {"--start 0 --end=0x100000000", {.start = 0, .end = 0x100000000, .any = true}},
        {"--end=4294967296 --crc32 4294967292",
         {.end = 0x100000000, .crc32 = 0xFFFFFFFC, .any = true}},
        {"--start=0x100 --end=0x101", {.start = 0x100, .end = 0x101, .any = true}},
        {"--start=0x100 --end=0x200 --crc32=0x1FC",
         {.start = 0x100, .end = 0x200, .crc32 = 0x1FC, .any = true}},
        {"--crc32=0 --start=0x100", {.start = 0x100, .crc32 = 0, .any = true}},
    };
    for (const auto& [text, options] : cases) {
        const ParsedOptions parsed = parse_options(text);
        EXPECT_EQ(parsed.error, "") << text;
        EXPECT_EQ(parsed.options, options) << text;
    }
}

// Each option in the ENVIRONMENT section is a `.TP` line and then
// `.B \-\-name` or `.BI \-\-name= value`.
TEST(Options, ManualPageListsTheKnownOptions) {
    std::string_view page = manual_page;
    page = page.substr(page.find("\n.SH ENVIRONMENT"));
    page = page.substr(0, page.find("\n.SH ", 1));
    std::vector<std::string_view> listed;
    for (std::size_t at = 0; (at = page.find("\n.TP\n", at)) != std::string_view::npos;) {
        at += 5;
        const std::string_view line = page.substr(at, page.find('\n', at) - at);
        const std::size_t name = line.starts_with(".B \\-\\-")    ? 7
                                 : line.starts_with(".BI \\-\\-") ? 8
                                                                  : 0;
        if (name != 0) {
            listed.push_back(line.substr(name, line.find_first_of("= ", name) - name));
        }
    }
    std::vector<std::string_view> expected;
    for (const std::string_view option : known_options) {
        expected.push_back(option.substr(2));
    }
    EXPECT_EQ(listed, expected);
}

} // namespace
} // namespace imgpack

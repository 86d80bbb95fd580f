// The production reader against the plain reference reader, on random and
// adversarial inputs, with read and block boundaries in many places.

#include "reference/differential.hpp"
#include "reference/reference_reader.hpp"
#include "srec/hex.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace imgpack {
namespace {

using test::ramp;
using test::record;

class InputMaker {
  public:
    explicit InputMaker(unsigned seed) : random_(seed) {}

    std::string make() {
        std::string input;
        const int pieces = pick(0, 12);
        for (int i = 0; i < pieces; ++i) {
            input += piece();
        }
        return input;
    }

  private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    char odd_char() {
        static const std::string alphabet =
            std::string("S0123456789ABCDEFabcdefGgs \r\n\x1a\x80\xff", 33) + std::string(1, '\0');
        return alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
    }

    std::string line_end() {
        switch (pick(0, 5)) {
        case 0:
            return "\r\n";
        case 1:
            return "\r";
        case 2:
            return "";
        case 3:
            return "\x1a";
        default:
            return "\n";
        }
    }

    std::string piece() {
        std::string text;
        switch (pick(0, 5)) {
        case 0: { // a valid record of any type
            const int type = pick(0, 9);
            const int max_data = type >= 1 && type <= 3 ? 122 - (type - 1) : 8;
            text = record(type, static_cast<std::uint32_t>(random_()),
                          ramp(static_cast<std::size_t>(pick(0, max_data)),
                               static_cast<std::uint8_t>(pick(0, 255))));
            break;
        }
        case 1: { // a record with a few characters changed or cut
            text = record(pick(1, 3), static_cast<std::uint32_t>(random_()),
                          ramp(static_cast<std::size_t>(pick(0, 40))));
            for (int n = pick(1, 3); n > 0; --n) {
                text[static_cast<std::size_t>(pick(0, static_cast<int>(text.size()) - 1))] =
                    odd_char();
            }
            text.resize(static_cast<std::size_t>(pick(0, static_cast<int>(text.size()))));
            break;
        }
        case 2: { // a line around the 255-character limit
            text = "S1" + std::string(static_cast<std::size_t>(pick(251, 255)), 'F');
            break;
        }
        case 3: { // a short record with a count that does not fit
            text = "S" + std::string(1, static_cast<char>('1' + pick(0, 2))) +
                   std::string(static_cast<std::size_t>(pick(0, 12)), odd_char());
            break;
        }
        default: { // noise
            for (int n = pick(0, 20); n > 0; --n) {
                text += odd_char();
            }
        }
        }
        return text + line_end();
    }

    std::mt19937 random_;
};

TEST(Differential, RandomInputsAgreeWithTheReference) {
    InputMaker maker(20261206);
    const std::vector<std::size_t> blocks{1, 2, 3, 5, 16, 64, 255, 256, 257, 4096};
    for (int i = 0; i < 3000; ++i) {
        const std::string input = maker.make();
        const std::size_t block = blocks[static_cast<std::size_t>(i) % blocks.size()];
        const std::size_t max_read = 1 + static_cast<std::size_t>(i) % 300;
        const std::string difference = reference::compare_readers(input, block, max_read);
        ASSERT_EQ(difference, "") << "input " << i << " (" << input.size() << " bytes), block "
                                  << block << ", max read " << max_read;
    }
}

TEST(Differential, BoundariesAtEveryPosition) {
    // A CR LF pair, a 0x1A and a long line, with each block size from 1 to 40,
    // so that every one of them falls on a block boundary somewhere.
    const std::string crlf = test::lines({record(1, 0x10, ramp(20)), record(9, 0)}, "\r\n");
    const std::string long_lines = "S1" + std::string(253, '0') + "\r\n" + "S1" +
                                   std::string(254, '0') + "\n" + "S3" + std::string(255, '1');
    for (std::size_t at = 0; at <= crlf.size(); ++at) {
        std::string with_stop = crlf;
        with_stop.insert(at, 1, '\x1a');
        for (const std::string& input : {with_stop, crlf, long_lines}) {
            for (std::size_t block = 1; block <= 40; ++block) {
                ASSERT_EQ(reference::compare_readers(input, block, block + at % 3), "")
                    << "0x1A at " << at << ", block " << block;
            }
        }
    }
}

TEST(Differential, ReferenceDigitsMatchTheProductionRule) {
    for (int byte = 0; byte < 256; ++byte) {
        const auto ch = static_cast<char>(static_cast<signed char>(byte));
        ASSERT_EQ(reference::digit_value(ch), hex_digit(ch)) << byte;
    }
}

} // namespace
} // namespace imgpack

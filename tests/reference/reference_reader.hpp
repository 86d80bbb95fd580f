#pragma once

// A deliberately plain reader written straight from the rules of the format,
// one character at a time, for checking the production reader against. It
// must stay obviously correct: no speed tricks, no shared code with src/.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace imgpack::reference {

enum class Kind { data = 0, termination = 1, header = 2 };

enum class Result { decoded, failed, no_line };

struct Record {
    Result result = Result::no_line;
    Kind kind = Kind::header;
    std::int32_t address = 0;
    std::int32_t data_length = 0;
    std::array<std::uint8_t, 128> data{};
};

// The input read as text from memory: CR LF becomes LF, 0x1A ends the input.
class Stream {
  public:
    explicit Stream(std::string_view bytes) : bytes_(bytes) {}

    // Reads at most 255 characters, stopping after a line feed, into `line`
    // and writes a zero after them. Returns the number of characters read.
    std::size_t read_line(std::array<char, 256>& line);
    [[nodiscard]] bool at_end() const { return end_; }
    void rewind() {
        position_ = 0;
        end_ = false;
    }

  private:
    // The next character, or -1 at the end of the input (which sets the end state).
    int next_char();

    std::string_view bytes_;
    std::size_t position_ = 0;
    bool end_ = false;
};

// Reads the next line of `stream` and decodes it.
Record read_record(Stream& stream);

// The digit value of one character.
int digit_value(char ch);

// What the preprocess pass finds in `bytes`.
struct Conversion {
    int preprocess_result = 0;
    std::int32_t low = 0;
    std::int32_t high = 0;
    std::int32_t size = 0; // HiAddr - LowAddr + 1, wrapping at 32 bits
};
Conversion preprocess(std::string_view bytes);

// What the fill pass makes of `bytes` in an image of `size` bytes starting at
// address `low`: every data record copied in file order. `fill_result` is -1
// at the first record that does not fit (the image then holds the records
// before it).
struct Image {
    int fill_result = 0;
    std::vector<std::uint8_t> bytes;
};
Image fill(std::string_view bytes, std::int32_t low, std::size_t size);

} // namespace imgpack::reference

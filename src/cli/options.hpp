#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace imgpack {

// What IMGPACK_OPTIONS asks of a conversion. Addresses are unsigned 32-bit
// values; they are held in 64 bits so that an end of 0x100000000 (the top of
// the address space, exclusive) fits.
struct Options {
    bool strict = false;                  // --strict
    std::uint8_t fill = 0xFF;             // --fill=BYTE
    std::optional<std::uint64_t> start{}; // --start=ADDR, 0 to 0xFFFFFFFF
    std::optional<std::uint64_t> end{};   // --end=ADDR, exclusive, 1 to 0x100000000
    std::optional<std::uint64_t> crc32{}; // --crc32=ADDR, 0 to 0xFFFFFFFC
    bool map = false;                     // --map
    bool any = false;                     // the text held at least one option

    bool operator==(const Options&) const = default;
};

// In the order the error line lists them and the manual page describes them.
inline constexpr std::array<std::string_view, 6> known_options{"--strict", "--fill",  "--start",
                                                               "--end",    "--crc32", "--map"};

// Either the options or, when the text holds a mistake, the one line that
// reports it on standard error ("imgpack: IMGPACK_OPTIONS: ...", without the
// line feed).
struct ParsedOptions {
    std::optional<Options> options;
    std::string error;
};

// Reads the text of IMGPACK_OPTIONS: GNU long options separated by blanks,
// a value as `--name=VALUE` or `--name VALUE`, numbers in decimal or with 0x
// in hexadecimal. Empty or blank text gives the defaults with any == false.
// The first mistake from the left is the one reported.
[[nodiscard]] ParsedOptions parse_options(std::string_view text);

} // namespace imgpack

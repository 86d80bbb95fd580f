#pragma once

// Builders for S-record text in tests: well-formed records with correct
// checksums, so that a test only spells out by hand the lines that are meant
// to be odd.

#include <cstdint>
#include <string>
#include <vector>

namespace imgpack::test {

using Bytes = std::vector<std::uint8_t>;

// One record line without its line end: "S<type>", count, the address in as
// many bytes as the type takes (2, 3 or 4; 2 for types 0, 5, 9; 3 for 6, 8;
// 4 for 7), the data and the checksum, upper-case hexadecimal.
std::string record(int type, std::uint32_t address, const Bytes& data = {});

// `count` bytes counting up from `first`.
Bytes ramp(std::size_t count, std::uint8_t first = 0);

// The lines joined, each followed by `line_end`.
std::string lines(const std::vector<std::string>& records, const std::string& line_end = "\n");

} // namespace imgpack::test

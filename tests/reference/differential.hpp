#pragma once

// Checks the production reader against the reference reader on one input.

#include <cstddef>
#include <string>
#include <string_view>

namespace imgpack::reference {

// Reads `input` record by record with both readers (the production one
// through a memory source handing out at most `max_read` bytes per read and a
// stream of `block_size`), going on past failed lines, and compares every
// result, output and end state, then the preprocess pass. Returns an empty
// string when they agree, else a description of the first difference.
std::string compare_readers(std::string_view input, std::size_t block_size, std::size_t max_read);

} // namespace imgpack::reference

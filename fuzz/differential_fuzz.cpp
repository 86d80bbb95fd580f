// The production reader against the plain reference reader: every result,
// output and end state must agree.

#include "fuzz_input.hpp"
#include "reference/differential.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = imgpack::fuzz::fuzz_input(data, size);
    const std::string difference =
        imgpack::reference::compare_readers(input.bytes, input.block_size, input.max_read);
    if (!difference.empty()) {
        std::fprintf(stderr, "readers differ: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}

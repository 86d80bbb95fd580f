#pragma once

// Turns a fuzzer's bytes into a conversion input plus the read boundaries to
// use with it. The boundaries come from a hash of the bytes, so that every
// corpus file is a plain S-record file and still meets many block sizes.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace imgpack::fuzz {

struct FuzzInput {
    std::string_view bytes;
    std::size_t block_size;
    std::size_t max_read;
    std::uint64_t hash; // for further choices: where to cut chunks
};

inline FuzzInput fuzz_input(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ULL;
    }
    return {std::string_view(reinterpret_cast<const char*>(data), size),
            1 + static_cast<std::size_t>(hash % 300),
            1 + static_cast<std::size_t>((hash >> 16) % 600), hash};
}

} // namespace imgpack::fuzz

// Micro-benchmarks of the input path: line reading, hexadecimal decoding,
// whole-record reading and the preprocess pass by default and strictly, in
// bytes of input text per second.

#include "image/stream_passes.hpp"
#include "memory_input.hpp"
#include "srec/hex.hpp"
#include "srec/reader.hpp"
#include "srec/text_stream.hpp"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace imgpack;
using test::MemoryInput;

// About 8 MiB of S3 records with `data` bytes each and correct checksums, LF
// or CR LF line ends.
std::string make_records(int data, bool crlf) {
    std::string text;
    std::uint32_t address = 0;
    char digits[3];
    while (text.size() < (8U << 20)) {
        text += "S3";
        unsigned sum = 0;
        const auto put = [&](unsigned byte) {
            std::snprintf(digits, sizeof digits, "%02X", byte & 0xFFU);
            text += digits;
            sum += byte & 0xFFU;
        };
        put(static_cast<unsigned>(4 + data + 1));
        for (int i = 3; i >= 0; --i) {
            put(address >> (8 * i));
        }
        for (int i = 0; i < data; ++i) {
            put(static_cast<unsigned>(i * 7 + 3));
        }
        put(~sum);
        text += crlf ? "\r\n" : "\n";
        address += static_cast<std::uint32_t>(data);
    }
    return text;
}

void read_lines(benchmark::State& state) {
    const std::string text = make_records(static_cast<int>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        MemoryInput source(text);
        TextStream stream(source);
        std::size_t lines = 0;
        RawLine line;
        while (stream.next_line(line) > 0) {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(read_lines)->Args({32, 0})->Args({32, 1})->Args({16, 0});

void decode_hex(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += "A5";
    }
    std::vector<std::uint8_t> out(count);
    for (auto _ : state) {
        hex_bytes(text, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(decode_hex)->Arg(16)->Arg(32)->Arg(120);

void read_records(benchmark::State& state) {
    const std::string text = make_records(static_cast<int>(state.range(0)), false);
    std::array<std::uint8_t, record_data_capacity> data{};
    for (auto _ : state) {
        MemoryInput source(text);
        TextStream stream(source);
        RecordKind kind{};
        std::int32_t address = 0;
        std::int32_t length = 0;
        while (read_srecord(stream, kind, address, length, data) == srec_decoded) {
            benchmark::DoNotOptimize(data.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(read_records)->Arg(16)->Arg(32)->Arg(120);

// The preprocess pass over records of `data` bytes; strictly when the second
// argument is 1.
void preprocess(benchmark::State& state) {
    const std::string text = make_records(static_cast<int>(state.range(0)), false);
    for (auto _ : state) {
        MemoryInput source(text);
        TextStream stream(source);
        std::int32_t low = 0;
        std::int32_t high = 0;
        CheckedReading strict;
        const int result = state.range(1) != 0 ? preprocess_input_checked(stream, low, high, strict)
                                               : preprocess_input(stream, low, high);
        if (result != 0) {
            state.SkipWithError("the records were refused");
        }
        benchmark::DoNotOptimize(high);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(preprocess)->Args({16, 0})->Args({16, 1})->Args({32, 0})->Args({32, 1});

void both_passes(benchmark::State& state) {
    const std::string text = make_records(32, false);
    for (auto _ : state) {
        MemoryInput source(text);
        TextStream stream(source);
        std::int32_t low = 0;
        std::int32_t high = 0;
        preprocess_input(stream, low, high);
        std::vector<std::uint8_t> image(static_cast<std::size_t>(high - low + 1), 0xFF);
        benchmark::DoNotOptimize(fill_read_buffer(stream, image, low));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(both_passes);

} // namespace

BENCHMARK_MAIN();

#include "reference/differential.hpp"

#include "image/passes.hpp"
#include "reference/reference_reader.hpp"
#include "srec/byte_source.hpp"
#include "srec/reader.hpp"

#include <algorithm>
#include <array>
#include <span>

namespace imgpack::reference {

namespace {

std::string describe(std::size_t call, const char* what) {
    return "call " + std::to_string(call) + ": " + what;
}

int expected_code(Result result) {
    switch (result) {
    case Result::decoded:
        return srec_decoded;
    case Result::failed:
        return srec_failed;
    case Result::no_line:
        return srec_no_line;
    }
    return srec_failed;
}

} // namespace

std::string compare_readers(std::string_view input, std::size_t block_size, std::size_t max_read) {
    MemorySource source(std::span<const char>(input.data(), input.size()), max_read);
    TextStream stream(source, block_size);
    Stream expected_stream(input);
    // Both readers must stop, so a bounded number of calls is enough.
    const std::size_t max_calls = input.size() + 2;
    for (std::size_t call = 0; call < max_calls; ++call) {
        if (stream.at_end() != expected_stream.at_end()) {
            return describe(call, "end state differs");
        }
        if (stream.at_end()) {
            break;
        }
        RecordKind kind = RecordKind::header;
        std::int32_t address = 0;
        std::int32_t data_length = 0;
        std::array<std::uint8_t, record_data_capacity> data{};
        const int result = read_srecord(stream, kind, address, data_length, data);
        const Record expected = read_record(expected_stream);
        if (result != expected_code(expected.result)) {
            return describe(call, "result differs");
        }
        if (expected.result == Result::no_line) {
            break;
        }
        if (expected.result == Result::failed) {
            continue;
        }
        if (static_cast<int>(kind) != static_cast<int>(expected.kind)) {
            return describe(call, "kind differs");
        }
        if (expected.kind != Kind::data) {
            continue;
        }
        if (address != expected.address) {
            return describe(call, "address differs");
        }
        if (data_length != expected.data_length) {
            return describe(call, "data length differs");
        }
        const auto length = static_cast<std::size_t>(std::max(data_length, 0));
        if (!std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length),
                        expected.data.begin())) {
            return describe(call, "data bytes differ");
        }
    }

    const Conversion expected = preprocess(input);
    std::int32_t low = 0;
    std::int32_t high = 0;
    const int result = preprocess_input(stream, low, high);
    if (result != expected.preprocess_result) {
        return "preprocess result differs";
    }
    if (result == 0 && (low != expected.low || high != expected.high)) {
        return "span differs";
    }
    return {};
}

} // namespace imgpack::reference

#include "cli/reasons.hpp"

#include <array>
#include <cstdio>

namespace imgpack {

namespace {

std::string contradiction_reason(const Contradiction& contradiction) {
    std::array<char, 96> text{};
    std::snprintf(
        text.data(), text.size(), "the byte at 0x%08X is %02X here, %02X in an earlier record",
        static_cast<unsigned>(contradiction.address), contradiction.here, contradiction.earlier);
    return text.data();
}

} // namespace

// "1 byte", "20 bytes".
std::string count_of(std::uint64_t count, const char* thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string hex32(std::uint32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%08X", static_cast<unsigned>(value));
    return text.data();
}

std::string allocation_reason(std::int32_t low, std::int32_t high, std::int32_t size) {
    if (low == 0x7FFFFFFF && high == 0) {
        return "no data records (S1, S2 or S3) in the file";
    }
    const std::string span = "records span " + hex32(static_cast<std::uint32_t>(low)) + ".." +
                             hex32(static_cast<std::uint32_t>(high)) + ": ";
    if (size >= 0) {
        return span + "the " + std::to_string(size) +
               " bytes of memory for the image cannot be had";
    }
    if (low < 0) {
        return span + "addresses from 0x80000000 up count as negative and the image reaches up "
                      "to address 0 (see HIGH ADDRESSES in imgpack(1))";
    }
    return span + "the image would be 2 GiB or larger";
}

std::string past_top_reason(const DataRecord& record) {
    return "the record at " + hex32(static_cast<std::uint32_t>(record.address)) + " with " +
           std::to_string(record.data_length) +
           " data bytes ends past address 0x7FFFFFFF, outside the image";
}

std::string fill_reason(const PassResult& result) {
    switch (result.cause) {
    case PassResult::Cause::changed:
        // A chmod, chown or new link moves the change time alone: the bytes
        // may be the same, but nothing tells.
        return "the file was changed or its attributes were (size, modification or change time "
               "differ from when it was opened)";
    case PassResult::Cause::cannot_reread:
        return "the input cannot be read a second time (a pipe or FIFO); convert a regular file";
    case PassResult::Cause::contradiction:
        return contradiction_reason(result.contradiction);
    case PassResult::Cause::record_outside:
        return past_top_reason({result.record.address, result.record.data_length});
    default:
        return "reading the file failed";
    }
}

std::string left_out_warning(const LeftOut& left_out, std::uint32_t first, std::uint32_t last) {
    const bool one = left_out.bytes == 1;
    return "warning: " + count_of(left_out.bytes, "byte") + " at " + hex32(left_out.address) +
           (one ? " lies" : " lie") + " outside the image " + hex32(first) + ".." + hex32(last) +
           (one ? " and is" : " and are") + " left out (" + count_of(left_out.records, "record") +
           ", " + count_of(left_out.total_bytes, "byte") + " in all)";
}

} // namespace imgpack

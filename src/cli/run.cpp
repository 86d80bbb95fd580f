#include "cli/run.hpp"

#include "image/chunked_passes.hpp"
#include "image/passes.hpp"
#include "image/read_buffer.hpp"
#include "platform/platform.hpp"
#include "srec/byte_source.hpp"
#include "srec/text_stream.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string_view>

namespace imgpack {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;

// The state of one conversion, alive from the start of the run to its end.
struct RunState {
    std::optional<FileSource> input_file;
    std::optional<platform::File> output;
    bool verbose = false;
    std::int32_t LowAddr = 0; // NOLINT(readability-identifier-naming): the name the trace prints
    std::int32_t HiAddr = 0;  // NOLINT(readability-identifier-naming)
    std::optional<ReadBuffer> read_buffer;
    std::int32_t read_buffer_size = 0;
};

bool equals_ignoring_case(std::string_view text, std::string_view expected) {
    return std::equal(text.begin(), text.end(), expected.begin(), expected.end(),
                      [](char a, char b) {
                          const auto lower = [](char c) {
                              return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

int fail(const char* message) {
    std::fputs(message, stdout);
    return exit_failed;
}

// A message that names a file: `before`, the name, then `after`.
int fail(const char* before, const char* name, const char* after) {
    std::fputs(before, stdout);
    std::fputs(name, stdout);
    std::fputs(after, stdout);
    return exit_failed;
}

int convert(const char* in_filename, const char* out_filename, bool verbose) {
    RunState run;
    run.input_file = FileSource::open(in_filename);
    if (!run.input_file) {
        return fail("Unable to open input file ", in_filename, "\n");
    }
    // Opening the output empties it, so it must not be the input under another name.
    if (run.input_file->is_same_file(out_filename)) {
        return fail("Output file ", out_filename, " is the input file\n");
    }
    run.output = platform::File::create_for_writing(out_filename);
    if (!run.output) {
        return fail("Unable to open output file ", out_filename, "\n");
    }
    run.verbose = verbose;

    // A large file is read by several threads at once, a small one (or a pipe)
    // as one stream; the results are the same.
    std::optional<ChunkedPasses> chunked = ChunkedPasses::split(*run.input_file);
    std::optional<TextStream> stream;
    if (!chunked) {
        stream.emplace(*run.input_file);
    }
    const int preprocessed = chunked ? chunked->preprocess(run.LowAddr, run.HiAddr)
                                     : preprocess_input(*stream, run.LowAddr, run.HiAddr);
    if (preprocessed != 0) {
        return fail("Input file read error or bad format\n");
    }
    if (run.verbose) {
        std::printf("Input file preprocessed. LowAddr = 0x%08x HiAddr = 0x%08x\n",
                    static_cast<unsigned>(run.LowAddr), static_cast<unsigned>(run.HiAddr));
    }

    // 32-bit wrap-around: no data record at all, and every span of 2 GiB or
    // more, give a negative size; the span of exactly 4 GiB wraps to 0.
    run.read_buffer_size = static_cast<std::int32_t>(static_cast<std::uint32_t>(run.HiAddr) -
                                                     static_cast<std::uint32_t>(run.LowAddr) + 1U);
    if (run.read_buffer_size >= 0) {
        run.read_buffer = ReadBuffer::allocate(static_cast<std::size_t>(run.read_buffer_size));
    }
    if (!run.read_buffer) {
        return fail("Cannot allocate read buffer\n");
    }
    if (run.verbose) {
        std::fputs("Read buffer successfully allocated.\n", stdout);
    }

    const int filled = chunked ? chunked->fill(run.read_buffer->bytes(), run.LowAddr)
                               : fill_read_buffer(*stream, run.read_buffer->bytes(), run.LowAddr);
    if (filled != 0) {
        return fail("Cannot fill read buffer\n");
    }
    if (run.verbose) {
        std::fputs("Read buffer successfully filled.\n", stdout);
    }

    const bool written = run.output->write_all(run.read_buffer->bytes());
    chunked.reset();
    stream.reset();
    run.input_file.reset();
    const bool closed = run.output->close();
    if (!written || !closed) {
        return fail("Unable to write output file ", out_filename, "\n");
    }
    if (run.verbose) {
        std::fputs("Output file successfully written.\n", stdout);
    }
    return exit_ok;
}

} // namespace

void print_usage() {
    std::fputs("S record to bin file converter, Version 1.0\n\n", stdout);
    std::fputs("Usage: imgpack <in_filename> <out_filename> [options]\n", stdout);
    std::fputs("  where options may be:\n", stdout);
    std::fputs("    -v   - verbose / default is no verbose\n", stdout);
}

int run_cli(std::span<const char* const> args) {
    const std::size_t given = args.empty() ? 0 : args.size() - 1;
    const bool two_files = given == 2;
    const bool verbose = given == 3 && equals_ignoring_case(args[3], "-v");
    if (!two_files && !verbose) {
        print_usage();
        return exit_failed;
    }
    try {
        return convert(args[1], args[2], verbose);
    } catch (const std::bad_alloc&) {
        // The image itself is mapped without exceptions; this is a read block
        // (one per stream) or the list of a large file's chunks, the only
        // other allocations of a run.
        return fail("Cannot allocate read buffer\n");
    }
}

} // namespace imgpack

#include "cli/run.hpp"

#include "image/builder.hpp"
#include "image/coverage.hpp"
#include "image/file_input.hpp"
#include "image/image.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace imgpack {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;

// Running out of memory anywhere ends the run with these, which need none.
constexpr std::string_view out_of_memory_message = "Cannot allocate read buffer\n";
constexpr std::string_view out_of_memory_reason = "not enough memory to read the file";

// Where the C++ runtime could not set aside its reserve for exceptions as the
// program started, an allocation that fails cannot even throw: the runtime
// then ends the program with no exception at hand. That run ends as any run
// short of memory does, with the fixed message only, as a reason would need
// memory. Anything else that ends the program is a fault of its own.
std::terminate_handler usual_terminate = nullptr;

[[noreturn]] void end_without_exception() noexcept {
    if (std::current_exception() == nullptr) {
        std::fwrite(out_of_memory_message.data(), 1, out_of_memory_message.size(), stdout);
        std::fflush(stdout);
        std::_Exit(exit_failed);
    }
    if (usual_terminate != nullptr) {
        usual_terminate();
    }
    std::abort();
}

bool equals_ignoring_case(std::string_view text, std::string_view expected) {
    return std::equal(text.begin(), text.end(), expected.begin(), expected.end(),
                      [](char a, char b) {
                          const auto lower = [](char c) {
                              return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

// Strict mode: IMGPACK_STRICT set to anything but "" or "0".
bool strict_mode_requested() {
    const char* value = std::getenv("IMGPACK_STRICT");
    return value != nullptr && !std::string_view(value).empty() && std::string_view(value) != "0";
}

// A number as 0x and eight upper-case hexadecimal digits.
std::string hex32(std::int32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%08X", static_cast<unsigned>(value));
    return text.data();
}

// The messages of one run: the fixed line on standard output and, in strict
// mode, a line on standard error that names the file (and line) and says why,
// in the form editors and build logs link to.
class Messages {
  public:
    explicit Messages(bool strict) : strict_(strict) {}

    [[nodiscard]] bool strict() const noexcept { return strict_; }

    static void say(std::string_view text) noexcept { platform::print(text); }

    // Prints `message` and, in strict mode, "imgpack: FILE: reason"; returns
    // the exit status of a failed run. It also ends a run that ran out of
    // memory, so it never throws.
    [[nodiscard]] int fail(std::string_view message, std::string_view file,
                           std::string_view reason) const noexcept {
        say(message);
        if (strict_) {
            say_why(file, reason);
        }
        return exit_failed;
    }

  private:
    // In one write where memory allows, so that the line stays whole in a
    // log that other programs write to as well.
    static void say_why(std::string_view file, std::string_view reason) noexcept {
        const std::array<std::string_view, 5> parts{"imgpack: ", file, ": ", reason, "\n"};
        try {
            std::string line;
            for (const std::string_view part : parts) {
                line += part;
            }
            platform::print_error(line);
        } catch (const std::bad_alloc&) {
            for (const std::string_view part : parts) {
                platform::print_error(part);
            }
        }
    }

    bool strict_;
};

// Why the read buffer for the span low..high cannot be had.
std::string allocation_reason(std::int32_t low, std::int32_t high, std::int32_t size) {
    if (low == 0x7FFFFFFF && high == 0) {
        return "no data records (S1, S2 or S3) in the file";
    }
    const std::string span = "records span " + hex32(low) + ".." + hex32(high) + ": ";
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
    return "the record at " + hex32(record.address) + " with " +
           std::to_string(record.data_length) +
           " data bytes ends past address 0x7FFFFFFF, outside the image";
}

std::string contradiction_reason(const Contradiction& contradiction) {
    std::array<char, 96> text{};
    std::snprintf(
        text.data(), text.size(), "the byte at 0x%08X is %02X here, %02X in an earlier record",
        static_cast<unsigned>(contradiction.address), contradiction.here, contradiction.earlier);
    return text.data();
}

} // namespace

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

namespace {

// The span of the data records, as the trace prints it. HiAddr starts at 0
// and never goes below it, so for records from 0x80000000 up (negative
// addresses) the trace shows HiAddr = 0x00000000 and the image reaches up to
// address 0.
struct Span {
    std::int32_t LowAddr = 0; // NOLINT(readability-identifier-naming): the trace's words
    std::int32_t HiAddr = 0;  // NOLINT(readability-identifier-naming)

    // HiAddr - LowAddr + 1 in 32-bit wrap-around: no data record at all, and
    // every span of 2 GiB or more, give a negative size; the span of exactly
    // 4 GiB wraps to 0.
    [[nodiscard]] std::int32_t size() const noexcept {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(HiAddr) -
                                         static_cast<std::uint32_t>(LowAddr) + 1U);
    }
};

void trace_span(const Span& span) {
    std::array<char, 80> trace{};
    std::snprintf(trace.data(), trace.size(),
                  "Input file preprocessed. LowAddr = 0x%08x HiAddr = 0x%08x\n",
                  static_cast<unsigned>(span.LowAddr), static_cast<unsigned>(span.HiAddr));
    Messages::say(trace.data());
}

// The image and, in strict mode, the record of which of its bytes the records
// wrote: strict mode refuses a byte written twice with different values.
struct ImageMemory {
    Image image;
    std::optional<Coverage> written;
};

std::optional<ImageMemory> allocate_image(const Span& span, bool strict) {
    if (span.size() < 0) {
        return std::nullopt;
    }
    auto image = Image::allocate(static_cast<std::size_t>(span.size()));
    if (!image) {
        return std::nullopt;
    }
    ImageMemory memory{std::move(*image), std::nullopt};
    if (strict) {
        memory.written = Coverage::allocate(memory.image.bytes().size());
        if (!memory.written) {
            return std::nullopt;
        }
    }
    return memory;
}

// The preprocess pass, the image's memory and the fill pass over `input`.
// Prints the step's message and returns nullopt when one fails.
std::optional<Image> build_image(Input& input, const char* in_filename, bool verbose,
                                 const Messages& messages) {
    ImageBuilder builder(input, messages.strict());
    Span span;
    if (const PassResult result = builder.preprocess(span.LowAddr, span.HiAddr); !result.ok()) {
        const bool bad_line = result.cause == PassResult::Cause::bad_line;
        (void)messages.fail("Input file read error or bad format\n",
                            bad_line ? std::string(in_filename) + ":" + std::to_string(result.line)
                                     : std::string(in_filename),
                            bad_line ? result.reason : "reading the file failed");
        return std::nullopt;
    }
    if (verbose) {
        trace_span(span);
    }

    auto memory = allocate_image(span, messages.strict());
    if (!memory) {
        const auto& past_top = builder.record_past_top();
        (void)messages.fail("Cannot allocate read buffer\n", in_filename,
                            past_top ? past_top_reason(*past_top)
                                     : allocation_reason(span.LowAddr, span.HiAddr, span.size()));
        return std::nullopt;
    }
    if (verbose) {
        Messages::say("Read buffer successfully allocated.\n");
    }

    const PassResult filled = builder.fill(memory->image.bytes(), span.LowAddr,
                                           memory->written ? &*memory->written : nullptr);
    if (!filled.ok()) {
        (void)messages.fail("Cannot fill read buffer\n",
                            filled.line != 0
                                ? std::string(in_filename) + ":" + std::to_string(filled.line)
                                : std::string(in_filename),
                            fill_reason(filled));
        return std::nullopt;
    }
    if (verbose) {
        Messages::say("Read buffer successfully filled.\n");
    }
    return std::move(memory->image);
}

// Writes the image and closes the output. Part of an image must never pass
// for one: a failed write or close empties the output again, first thing.
int write_image(const Image& image, platform::File output, const char* out_filename, bool verbose,
                const Messages& messages) {
    bool written = output.write_all(image.bytes());
    if (!written) {
        output.truncate();
    }
    std::string write_error = written ? "" : platform::last_error_message();
    // A network file system may report a failed write only when the file is
    // closed, when its handle is gone: a second handle empties the file then.
    // It is the file that was written, whatever its name names by now.
    auto spare = written ? output.duplicate() : std::nullopt;
    if (!output.close() && written) {
        written = false;
        if (spare) {
            spare->truncate();
        }
        write_error = platform::last_error_message();
    }
    if (!written) {
        return messages.fail("Unable to write output file " + std::string(out_filename) + "\n",
                             out_filename, write_error);
    }
    if (verbose) {
        Messages::say("Output file successfully written.\n");
    }
    return exit_ok;
}

// One conversion, step by step. The input is open from the first step until
// the image is built, the output from the second step to the last.
int convert(const char* in_filename, const char* out_filename, bool verbose,
            const Messages& messages) {
    std::optional<FileInput> input = FileInput::open(in_filename);
    if (!input) {
        const std::string reason = messages.strict() ? platform::last_error_message() : "";
        return messages.fail("Unable to open input file " + std::string(in_filename) + "\n",
                             in_filename, reason);
    }
    // Opening the output empties it, so it must not be the input under another name.
    if (input->is_same_file(out_filename)) {
        return messages.fail("Output file " + std::string(out_filename) + " is the input file\n",
                             out_filename, "is the input file; neither file was touched");
    }
    std::optional<platform::File> output = platform::File::create_for_writing(out_filename);
    if (!output) {
        const std::string reason = messages.strict() ? platform::last_error_message() : "";
        return messages.fail("Unable to open output file " + std::string(out_filename) + "\n",
                             out_filename, reason);
    }
    const std::optional<Image> image = build_image(*input, in_filename, verbose, messages);
    input.reset();
    if (!image) {
        return exit_failed;
    }
    return write_image(*image, std::move(*output), out_filename, verbose, messages);
}

void print_usage() {
    Messages::say("S record to bin file converter, Version 1.0\n\n");
    Messages::say("Usage: imgpack <in_filename> <out_filename> [options]\n");
    Messages::say("  where options may be:\n");
    Messages::say("    -v   - verbose / default is no verbose\n");
}

} // namespace

int run_cli(std::span<const char* const> args) {
    const std::size_t given = args.empty() ? 0 : args.size() - 1;
    const bool two_files = given == 2;
    const bool verbose = given == 3 && equals_ignoring_case(args[3], "-v");
    if (!two_files && !verbose) {
        print_usage();
        return exit_failed;
    }
    const Messages messages(strict_mode_requested());
    try {
        return convert(args[1], args[2], verbose, messages);
    } catch (const std::bad_alloc&) {
        // The image itself is mapped without exceptions; this is a read block
        // (one per stream), the list of a large file's chunks or a message,
        // the only other allocations of a run. Whatever message was being
        // put together, nothing of it was printed yet.
        return messages.fail(out_of_memory_message, args[1], out_of_memory_reason);
    }
}

int run_program(int argc, char** argv) noexcept {
    usual_terminate = std::set_terminate(end_without_exception);
    try {
        const std::vector<std::string> arguments = platform::start_program(argc, argv);
        std::vector<const char*> args;
        args.reserve(arguments.size());
        for (const auto& argument : arguments) {
            args.push_back(argument.c_str());
        }
        return run_cli(args);
    } catch (const std::bad_alloc&) {
        // Not even the arguments could be copied: name the input as given.
        return Messages(strict_mode_requested())
            .fail(out_of_memory_message, argc > 1 ? argv[1] : "", out_of_memory_reason);
    }
}

} // namespace imgpack

#include "cli/run.hpp"

#include "cli/map.hpp"
#include "cli/options.hpp"
#include "cli/reasons.hpp"
#include "image/builder.hpp"
#include "image/coverage.hpp"
#include "image/crc32.hpp"
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
#include <utility>
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

// The messages of one run: the fixed line on standard output and, in strict
// mode or with options, a line on standard error that names the file (and
// line) and says why, in the form editors and build logs link to.
class Messages {
  public:
    explicit Messages(bool explain) : explain_(explain) {}

    [[nodiscard]] bool explain() const noexcept { return explain_; }

    static void say(std::string_view text) noexcept { platform::print(text); }

    // Prints `message` and, when explaining, "imgpack: FILE: reason"; returns
    // the exit status of a failed run. It also ends a run that ran out of
    // memory, so it never throws.
    [[nodiscard]] int fail(std::string_view message, std::string_view file,
                           std::string_view reason) const noexcept {
        say(message);
        if (explain_) {
            say_why(file, reason);
        }
        return exit_failed;
    }

    // "imgpack: FILE: text" on standard error, for a run that goes on.
    static void warn(std::string_view file, std::string_view text) noexcept { say_why(file, text); }

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

    bool explain_;
};

} // namespace

namespace {

// What a conversion does beyond the fixed behaviour: strict mode
// (IMGPACK_STRICT or --strict) and the options of IMGPACK_OPTIONS.
struct Settings {
    Options options;
    bool strict = false;

    // Failures say why on standard error.
    [[nodiscard]] bool explain() const noexcept { return strict || options.any; }
    // The image lies where --start and --end say, not where the span does.
    [[nodiscard]] bool windowed() const noexcept { return options.start || options.end; }
    // The bytes the records write are recorded: strict mode refuses
    // contradicting records, the map shows them, the CRC must not cover them.
    [[nodiscard]] bool records_written() const noexcept {
        return strict || options.map || options.crc32;
    }
};

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

// Where the image lies: its first address and its size, or why there is no
// image (an empty reason: the memory could not be had); and the first and
// last address the -v trace shows, where they are known.
struct Placement {
    std::uint32_t base = 0;
    std::size_t size = 0;
    std::string refused;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> traced;
};

constexpr std::uint64_t max_image_size = std::uint64_t{1} << 31; // 2 GiB and more wrap in 1.0

// The image of the span, as the fixed behaviour places it.
Placement place_at_span(const Span& span, const ImageBuilder& builder) {
    Placement placement;
    placement.traced.emplace(span.LowAddr, span.HiAddr);
    if (span.size() >= 0) {
        placement.base = static_cast<std::uint32_t>(span.LowAddr);
        placement.size = static_cast<std::size_t>(span.size());
        return placement;
    }
    const auto& past_top = builder.record_past_top();
    placement.refused = past_top ? past_top_reason(*past_top)
                                 : allocation_reason(span.LowAddr, span.HiAddr, span.size());
    return placement;
}

// The image of the window, each end given or else the records' own.
Placement place_in_window(const Options& options, const Extent& records) {
    Placement placement;
    if ((!options.start || !options.end) && !records.any) {
        placement.refused = "no data records (S1, S2 or S3) in the file";
        return placement;
    }
    const std::uint64_t start = options.start.value_or(records.lowest);
    // The records' end stops at the top of the address space, as --end does:
    // bytes past 0xFFFFFFFF are left out, not wrapped to address 0.
    constexpr std::uint64_t top = std::uint64_t{1} << 32;
    const std::uint64_t end = options.end.value_or(std::min(records.end, top));
    // As the span's trace does, the window's shows its ends even when no
    // image can be had of it.
    placement.traced.emplace(start, end - 1);
    const std::string window =
        "the image " + hex32(static_cast<std::uint32_t>(start)) + " up to " +
        (end > UINT32_MAX ? std::string("0x100000000") : hex32(static_cast<std::uint32_t>(end)));
    if (end <= start) {
        placement.refused =
            window + (options.start ? " holds no byte: no record lies at or above --start"
                                    : " holds no byte: no record lies below --end");
    } else if (end - start >= max_image_size) {
        placement.refused = window + " would be 2 GiB or larger";
    } else {
        placement.base = static_cast<std::uint32_t>(start);
        placement.size = static_cast<std::size_t>(end - start);
    }
    return placement;
}

void trace_span(std::uint32_t low, std::uint32_t high) {
    std::array<char, 80> trace{};
    std::snprintf(trace.data(), trace.size(),
                  "Input file preprocessed. LowAddr = 0x%08x HiAddr = 0x%08x\n",
                  static_cast<unsigned>(low), static_cast<unsigned>(high));
    Messages::say(trace.data());
}

// The image and, where the settings need it, the record of which of its
// bytes the records wrote.
struct ImageMemory {
    Image image;
    std::optional<Coverage> written;
};

std::optional<ImageMemory> allocate_image(const Placement& placement, const Settings& settings) {
    auto image = Image::allocate(placement.size, settings.options.fill);
    if (!image) {
        return std::nullopt;
    }
    ImageMemory memory{std::move(*image), std::nullopt};
    if (settings.records_written()) {
        memory.written = Coverage::allocate(placement.size);
        if (!memory.written) {
            return std::nullopt;
        }
    }
    return memory;
}

// Stores the CRC-32 that --crc32 asks for; returns why it cannot, or an empty
// string.
std::string store_crc(ImageMemory& memory, std::uint32_t base, std::uint64_t address) {
    const std::span<std::uint8_t> bytes = memory.image.bytes();
    const std::string at = "--crc32: the CRC-32 at " + hex32(static_cast<std::uint32_t>(address));
    switch (store_crc32(bytes, base, address, *memory.written)) {
    case CrcStore::stored:
        return {};
    case CrcStore::outside:
        return at + " does not lie inside the image " + hex32(base) + ".." +
               hex32(static_cast<std::uint32_t>(base + bytes.size() - 1));
    case CrcStore::over_data:
        break;
    }
    return at + " would overwrite bytes that records wrote";
}

// The image a conversion writes, and what --map shows of it.
struct BuiltImage {
    Image image;
    std::uint32_t base = 0;
    std::optional<Coverage> written;
};

// "FILE:LINE", or "FILE" where no line is named.
std::string at_line(const char* filename, std::uint64_t line) {
    return line != 0 ? std::string(filename) + ":" + std::to_string(line) : std::string(filename);
}

// The preprocess pass and where it places the image; prints the message and
// returns nullopt when the pass fails.
std::optional<Placement> preprocess(ImageBuilder& builder, Span& span, const char* in_filename,
                                    bool verbose, const Settings& settings,
                                    const Messages& messages) {
    if (const PassResult result = builder.preprocess(span.LowAddr, span.HiAddr); !result.ok()) {
        const bool bad_line = result.cause == PassResult::Cause::bad_line;
        (void)messages.fail("Input file read error or bad format\n",
                            at_line(in_filename, bad_line ? result.line : 0),
                            bad_line ? result.reason : "reading the file failed");
        return std::nullopt;
    }
    Placement placement = settings.windowed() ? place_in_window(settings.options, builder.extent())
                                              : place_at_span(span, builder);
    if (verbose && placement.traced) {
        trace_span(placement.traced->first, placement.traced->second);
    }
    return placement;
}

// The fill pass and the CRC; prints the message and returns false when either
// fails, and warns of record bytes left out of a placed image.
bool fill(ImageBuilder& builder, ImageMemory& memory, const Placement& placement,
          const char* in_filename, const Settings& settings, const Messages& messages) {
    const PassResult filled =
        builder.fill(memory.image.bytes(), static_cast<std::int32_t>(placement.base),
                     memory.written ? &*memory.written : nullptr);
    if (!filled.ok()) {
        (void)messages.fail("Cannot fill read buffer\n", at_line(in_filename, filled.line),
                            fill_reason(filled));
        return false;
    }
    if (settings.options.crc32) {
        if (const std::string problem = store_crc(memory, placement.base, *settings.options.crc32);
            !problem.empty()) {
            (void)messages.fail("Cannot fill read buffer\n", in_filename, problem);
            return false;
        }
    }
    if (filled.left_out.found()) {
        const auto last = static_cast<std::uint32_t>(placement.base + placement.size - 1);
        Messages::warn(at_line(in_filename, filled.left_out.line),
                       left_out_warning(filled.left_out, placement.base, last));
    }
    return true;
}

// The preprocess pass, the image's memory and the fill pass over `input`.
// Prints the step's message and returns nullopt when one fails.
std::optional<BuiltImage> build_image(Input& input, const char* in_filename, bool verbose,
                                      const Settings& settings, const Messages& messages) {
    ImageBuilder builder(input, Reading{settings.strict, settings.explain(), settings.windowed()});
    Span span;
    const auto placement = preprocess(builder, span, in_filename, verbose, settings, messages);
    if (!placement) {
        return std::nullopt;
    }

    auto memory = placement->refused.empty() ? allocate_image(*placement, settings) : std::nullopt;
    if (!memory) {
        const std::string no_memory =
            settings.windowed() ? "the " + std::to_string(placement->size) +
                                      " bytes of memory for the image cannot be had"
                                : allocation_reason(span.LowAddr, span.HiAddr, span.size());
        (void)messages.fail("Cannot allocate read buffer\n", in_filename,
                            placement->refused.empty() ? no_memory : placement->refused);
        return std::nullopt;
    }
    if (verbose) {
        Messages::say("Read buffer successfully allocated.\n");
    }

    if (!fill(builder, *memory, *placement, in_filename, settings, messages)) {
        return std::nullopt;
    }
    if (verbose) {
        Messages::say("Read buffer successfully filled.\n");
    }
    return BuiltImage{std::move(memory->image), placement->base, std::move(memory->written)};
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
            const Settings& settings, const Messages& messages) {
    std::optional<FileInput> input = FileInput::open(in_filename);
    if (!input) {
        const std::string reason = messages.explain() ? platform::last_error_message() : "";
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
        const std::string reason = messages.explain() ? platform::last_error_message() : "";
        return messages.fail("Unable to open output file " + std::string(out_filename) + "\n",
                             out_filename, reason);
    }
    const std::optional<BuiltImage> built =
        build_image(*input, in_filename, verbose, settings, messages);
    input.reset();
    if (!built) {
        return exit_failed;
    }
    // The map is drawn before the image is written: running out of memory
    // for it must fail the run while the output is still empty.
    const std::string map = settings.options.map ? image_map(*built->written, built->base) : "";
    const int status =
        write_image(built->image, std::move(*output), out_filename, verbose, messages);
    if (status == exit_ok) {
        Messages::say(map);
    }
    return status;
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
    // A bad option ends the run before any file is opened.
    const char* options_text = std::getenv("IMGPACK_OPTIONS");
    ParsedOptions parsed = parse_options(options_text != nullptr ? options_text : "");
    if (!parsed.options) {
        platform::print_error(parsed.error + "\n");
        return exit_failed;
    }
    const Settings settings{*parsed.options, strict_mode_requested() || parsed.options->strict};
    const Messages messages(settings.explain());
    try {
        return convert(args[1], args[2], verbose, settings, messages);
    } catch (const std::bad_alloc&) {
        // The image itself is mapped without exceptions; this is a read block
        // (one per stream), the list of a large file's chunks, an opened
        // file's handles or a message, the only other allocations of a run.
        // Whatever message was being put together, nothing of it was printed
        // yet, and a file whose handles could not be had was not opened.
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

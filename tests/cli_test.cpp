// Black-box tests: run the built imgpack binary and check its standard output
// byte for byte, its exit status and the output file.

#include "support/process.hpp"
#include "support/records.hpp"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace imgpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::lines;
using test::ramp;
using test::record;
using test::TempDir;

const std::string usage_text = "S record to bin file converter, Version 1.0\n\n"
                               "Usage: imgpack <in_filename> <out_filename> [options]\n"
                               "  where options may be:\n"
                               "    -v   - verbose / default is no verbose\n";
const std::string bad_format = "Input file read error or bad format\n";
const std::string cannot_allocate = "Cannot allocate read buffer\n";
const std::string cannot_fill = "Cannot fill read buffer\n";
const std::string trace_tail = "Read buffer successfully allocated.\n"
                               "Read buffer successfully filled.\n"
                               "Output file successfully written.\n";

std::string preprocessed(const char* low, const char* high) {
    return std::string("Input file preprocessed. LowAddr = 0x") + low + " HiAddr = 0x" + high +
           "\n";
}

std::string as_text(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

test::ProcessResult run_imgpack(const std::vector<std::string>& args,
                                const test::ProcessOptions& options = {}) {
    auto result = test::run_process(IMGPACK_BINARY, args, options);
    EXPECT_EQ(result.err, "") << "nothing ever goes to standard error";
    EXPECT_EQ(result.signal, 0) << "imgpack was killed by a signal";
    return result;
}

// --- argument forms -------------------------------------------------------

TEST(CommandLine, PrintsUsageForEveryFormItDoesNotAccept) {
    TempDir dir;
    const std::string out = (dir / "out.bin").string();
    const std::string in = (dir / "in.s19").string();
    test::write_file(in, lines({record(1, 0, {1})}));
    const std::vector<std::vector<std::string>> forms{
        {},
        {"-h"},
        {in},
        {in, out, "-x"},
        {in, out, "-vv"},
        {in, out, "v"},
        {in, out, "-v", "-v"},
        {in, out, "-v", "extra", "more"},
    };
    for (const auto& args : forms) {
        const auto result = run_imgpack(args);
        EXPECT_EQ(result.out, usage_text) << args.size() << " arguments";
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_FALSE(fs::exists(out)) << "no file is created when the usage text is printed";
    }
}

TEST(CommandLine, VerboseOptionInAnyLetterCase) {
    TempDir dir;
    const std::string in = (dir / "in.s19").string();
    test::write_file(in, lines({record(1, 0x1000, ramp(16))}));
    for (const char* option : {"-v", "-V"}) {
        const auto result = run_imgpack({in, (dir / "out.bin").string(), option});
        EXPECT_EQ(result.out, preprocessed("00001000", "0000100f") + trace_tail) << option;
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(test::read_file(dir / "out.bin"), as_text(ramp(16)));
    }
}

TEST(CommandLine, OptionOnlyCountsInThirdPlace) {
    TempDir dir;
    test::write_file(dir / "in.s19", lines({record(1, 0, {0xAB})}));
    // "-v" first is taken as the input file name, which does not exist.
    const auto result = run_imgpack({"-v", "in.s19"},
                                    {.address_space_limit = std::nullopt, .directory = dir.path()});
    EXPECT_EQ(result.out, "Unable to open input file -v\n");
    EXPECT_EQ(result.exit_status, 1);
    // "-v" second is the output file name.
    const auto second = run_imgpack({"in.s19", "-v"},
                                    {.address_space_limit = std::nullopt, .directory = dir.path()});
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.exit_status, 0);
    EXPECT_EQ(test::read_file(dir / "-v"), "\xAB");
}

// --- conversions ------------------------------------------------------------

struct ConversionCase {
    const char* name;
    std::string input;
    std::string trace; // the -v output
    int status;
    std::string image; // expected contents of the output file
};

std::vector<ConversionCase> conversion_cases() {
    const std::string typical = lines(
        {record(0, 0, {'h', 'd', 'r'}), record(1, 0x00, ramp(16)), record(1, 0x10, ramp(16, 0x10)),
         record(1, 0x20, ramp(16, 0x20)), record(1, 0x40, ramp(16, 0x40)), record(9, 0)});
    return {
        {"typical file", typical, preprocessed("00000000", "0000004f") + trace_tail, 0,
         as_text(ramp(0x30)) + std::string(16, '\xFF') + as_text(ramp(16, 0x40))},
        {"CR LF file reads the same", test::lines({record(1, 0x10, {1, 2}), record(9, 0)}, "\r\n"),
         preprocessed("00000010", "00000011") + trace_tail, 0, "\x01\x02"},
        {"nothing read after 0x1A", lines({record(1, 0, {7}), record(9, 0)}) + "\x1a" + "garbage\n",
         preprocessed("00000000", "00000000") + trace_tail, 0, "\x07"},
        {"line not starting with S", "X1030000FC\n", bad_format, 1, ""},
        {"S5 record", lines({record(1, 0, {1}), "S5030001FB"}), bad_format, 1, ""},
        {"blank last line", lines({record(1, 0, {1}), ""}), bad_format, 1, ""},
        {"data field past the end of the line", "S1130000AABB\n", bad_format, 1, ""},
        {"only S0 and S9", lines({record(0, 0), record(9, 0)}),
         preprocessed("7fffffff", "00000000") + cannot_allocate, 1, ""},
        {"empty input", "", preprocessed("7fffffff", "00000000") + cannot_allocate, 1, ""},
        {"zero-length S1 at 0x0100: empty image", lines({record(1, 0x0100)}),
         preprocessed("00000100", "000000ff") + trace_tail, 0, ""},
        {"zero-length S1 at 0: one byte 0xFF", lines({record(1, 0)}),
         preprocessed("00000000", "00000000") + trace_tail, 0, "\xFF"},
        {"zero-length S3 at 0x80000000: empty image", lines({record(3, 0x80000000)}),
         preprocessed("80000000", "7fffffff") + trace_tail, 0, ""},
        {"S3 at 0x80000000 with data: span over 2 GiB", lines({record(3, 0x80000000, ramp(16))}),
         preprocessed("80000000", "00000000") + cannot_allocate, 1, ""},
        {"S3 at 0xFFFF0000: image up to address 0", lines({record(3, 0xFFFF0000, ramp(16))}),
         preprocessed("ffff0000", "00000000") + trace_tail, 0,
         as_text(ramp(16)) + std::string(65537 - 16, '\xFF')},
        {"S2 above S1", lines({record(2, 0x010000, {0xEE}), record(1, 0, {0xAA})}),
         preprocessed("00000000", "00010000") + trace_tail, 0,
         "\xAA" + std::string(0xFFFF, '\xFF') + "\xEE"},
        {"end address wrapping past 0x7FFFFFFF",
         lines({record(3, 0x7FFFFFF8, ramp(16)), record(3, 0x7FFFFFF0)}),
         preprocessed("7ffffff0", "7fffffef") + "Read buffer successfully allocated.\n" +
             cannot_fill,
         1, ""},
        {"span of exactly 4 GiB wraps to an empty buffer",
         lines({record(3, 0x80000000), record(3, 0x7FFFFFFF, {1, 2})}),
         preprocessed("80000000", "7fffffff") + "Read buffer successfully allocated.\n" +
             cannot_fill,
         1, ""},
    };
}

TEST(Conversion, MessagesStatusAndImage) {
    for (const auto& c : conversion_cases()) {
        for (const bool verbose : {false, true}) {
            TempDir dir;
            test::write_file(dir / "in.s19", c.input);
            std::vector<std::string> args{(dir / "in.s19").string(), (dir / "out.bin").string()};
            if (verbose) {
                args.emplace_back("-v");
            }
            const auto result = run_imgpack(args);
            // Without -v only the failure message, the trace's last line, is printed.
            const std::string expected =
                verbose
                    ? c.trace
                    : (c.status == 0 ? ""
                                     : c.trace.substr(c.trace.rfind('\n', c.trace.size() - 2) + 1));
            EXPECT_EQ(result.out, expected) << c.name << (verbose ? " -v" : "");
            EXPECT_EQ(result.exit_status, c.status) << c.name;
            ASSERT_TRUE(fs::exists(dir / "out.bin")) << c.name;
            EXPECT_EQ(test::read_file(dir / "out.bin"), c.image) << c.name;
        }
    }
}

TEST(Conversion, ShippedExampleGivesItsExpectedImage) {
    TempDir dir;
    const fs::path examples = IMGPACK_EXAMPLES_DIR;
    const auto result =
        run_imgpack({(examples / "blinky.s19").string(), (dir / "blinky.bin").string()});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(test::read_file(dir / "blinky.bin"), test::read_file(examples / "blinky.bin"));
}

TEST(Conversion, ExistingOutputIsEmptiedOnFailure) {
    TempDir dir;
    test::write_file(dir / "in.s19", "not a record\n");
    test::write_file(dir / "out.bin", "old contents");
    const auto result = run_imgpack({(dir / "in.s19").string(), (dir / "out.bin").string()});
    EXPECT_EQ(result.out, bad_format);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(test::read_file(dir / "out.bin"), "");
}

// --- files that cannot be used ---------------------------------------------

TEST(Files, MissingInputLeavesOutputUntouched) {
    TempDir dir;
    const std::string missing = (dir / "missing.s19").string();
    const auto result = run_imgpack({missing, (dir / "out.bin").string(), "-v"});
    EXPECT_EQ(result.out, "Unable to open input file " + missing + "\n");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

TEST(Files, DirectoryAsInputCannotBeOpened) {
    TempDir dir;
    const auto result = run_imgpack({dir.path().string(), (dir / "out.bin").string()});
    EXPECT_EQ(result.out, "Unable to open input file " + dir.path().string() + "\n");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

TEST(Files, OutputInMissingDirectory) {
    TempDir dir;
    test::write_file(dir / "in.s19", lines({record(1, 0, {1})}));
    const std::string out = (dir / "no" / "such" / "out.bin").string();
    const auto result = run_imgpack({(dir / "in.s19").string(), out});
    EXPECT_EQ(result.out, "Unable to open output file " + out + "\n");
    EXPECT_EQ(result.exit_status, 1);
}

TEST(Files, OutputThatIsTheInputIsRefused) {
    TempDir dir;
    const std::string input = lines({record(1, 0, {1, 2, 3}), record(9, 0)});
    const fs::path in = dir / "in.s19";
    test::write_file(in, input);
    fs::create_hard_link(in, dir / "hard.s19");
    fs::create_symlink(in, dir / "soft.s19");
    for (const fs::path& out : {in, dir / "hard.s19", dir / "soft.s19", dir / "." / "in.s19"}) {
        const auto result = run_imgpack({in.string(), out.string(), "-v"});
        EXPECT_EQ(result.out, "Output file " + out.string() + " is the input file\n");
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(test::read_file(in), input) << "the input is left alone for " << out;
    }
}

TEST(Files, FailedWriteIsReported) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    TempDir dir;
    test::write_file(dir / "in.s19", lines({record(1, 0, ramp(16))}));
    for (const bool verbose : {false, true}) {
        std::vector<std::string> args{(dir / "in.s19").string(), "/dev/full"};
        if (verbose) {
            args.emplace_back("-v");
        }
        const auto result = run_imgpack(args);
        const std::string message = "Unable to write output file /dev/full\n";
        EXPECT_EQ(result.out, verbose ? preprocessed("00000000", "0000000f") +
                                            "Read buffer successfully allocated.\n"
                                            "Read buffer successfully filled.\n" +
                                            message
                                      : message);
        EXPECT_EQ(result.exit_status, 1);
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define IMGPACK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IMGPACK_UNDER_ASAN 1
#endif
#endif

TEST(Files, ImageLargerThanTheAddressSpaceLimitIsNotAllocated) {
#if defined(IMGPACK_UNDER_ASAN)
    GTEST_SKIP() << "AddressSanitizer needs far more address space than the limit allows";
#endif
    TempDir dir;
    // A 1.5 GiB span, in a process limited to 256 MiB of address space.
    test::write_file(dir / "in.s19", lines({record(3, 0, {1}), record(3, 0x5FFFFFFF, {2})}));
    const auto result =
        run_imgpack({(dir / "in.s19").string(), (dir / "out.bin").string(), "-v"},
                    {.address_space_limit = std::size_t{256} << 20, .directory = {}});
    EXPECT_EQ(result.out, preprocessed("00000000", "5fffffff") + cannot_allocate);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(test::read_file(dir / "out.bin"), "");
}

TEST(Files, InputThatCannotBeRewoundFailsTheFillPass) {
    TempDir dir;
    const fs::path fifo = dir / "in.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A child writes the records into the FIFO while imgpack reads it.
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        test::write_file(fifo, lines({record(1, 0, {1, 2})}));
        ::_exit(0);
    }
    const auto result = run_imgpack({fifo.string(), (dir / "out.bin").string(), "-v"});
    // Should imgpack have stopped before reading, the writer would wait forever.
    ::kill(writer, SIGKILL);
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_EQ(result.out, preprocessed("00000000", "00000001") +
                              "Read buffer successfully allocated.\n" + cannot_fill);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(test::read_file(dir / "out.bin"), "");
}

} // namespace
} // namespace imgpack

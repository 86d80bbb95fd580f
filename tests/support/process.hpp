#pragma once

// Running the built binary and handling files for black-box tests.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace imgpack::test {

struct ProcessResult {
    int exit_status = -1; // -1 when the child did not exit normally
    int signal = 0;       // the signal that ended it, if one did
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

struct ProcessOptions {
    // Address-space limit for the child (RLIMIT_AS), in bytes.
    std::optional<std::size_t> address_space_limit;
    // Working directory of the child.
    std::optional<std::filesystem::path> directory;
};

// Runs `program` with `args` (not including the program name, which is
// passed as argv[0]), with no standard input, and waits for it.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options = {});

// A fresh directory that is removed with everything in it at scope exit.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& contents);
std::string read_file(const std::filesystem::path& path);

} // namespace imgpack::test

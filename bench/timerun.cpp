// Runs a command (its standard output discarded) and prints its wall time in seconds, its peak
// resident memory in KiB and its exit status: "SECONDS KIB STATUS". A small program of its own so
// that the peak memory of the measured child does not start from the size of the process that
// launched it.
//
//   timerun [-n COUNT] COMMAND [ARGS...]
//
// With -n the command runs COUNT times in a row, as a build pipeline would start it, and the
// figures are the mean time per run, the largest peak and the last status: for start-up costs
// too small to time one run at a time.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Run {
    long peak_kib = 0;
    int status = 0;
};

bool run_once(char** command, Run& run) {
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return false;
    }
    if (child == 0) {
        // The measured command's own output would mix with the figures.
        if (FILE* null = std::freopen("/dev/null", "w", stdout); null == nullptr) {
            _exit(127);
        }
        execvp(command[0], command);
        std::perror("exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return false;
    }
    run.peak_kib = usage.ru_maxrss > run.peak_kib ? usage.ru_maxrss : run.peak_kib;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    long count = 1;
    if (argc > 3 && std::strcmp(argv[1], "-n") == 0) {
        count = std::strtol(argv[2], nullptr, 10);
        first = 3;
    }
    if (argc <= first || count < 1) {
        std::fputs("usage: timerun [-n COUNT] COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    Run run;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        if (!run_once(argv + first, run)) {
            return 2;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.7f %ld %d\n", elapsed.count() / static_cast<double>(count), run.peak_kib,
                run.status);
    return 0;
}

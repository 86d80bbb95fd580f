// Runs a command (its standard output discarded) and prints its wall time in seconds, its peak
// resident memory in KiB and its exit status: "SECONDS KIB STATUS". A small program of its own so
// that the peak memory of the measured child does not start from the size of the process that
// launched it.

#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: timerun COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        // The measured command's own output would mix with the figures.
        if (FILE* null = std::freopen("/dev/null", "w", stdout); null == nullptr) {
            _exit(127);
        }
        execvp(argv[1], argv + 1);
        std::perror("exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 2;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %ld %d\n", elapsed.count(), usage.ru_maxrss, exit_status);
    return 0;
}

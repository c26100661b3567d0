// Runs one command with standard output on /dev/null and prints what the run
// cost, on one line: CPU time (user + system) in microseconds, wall time in
// microseconds, peak resident memory in KiB, and the exit status.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

long microseconds(const timeval &time) { return time.tv_sec * 1000000L + time.tv_usec; }

long microseconds(const timespec &time) { return time.tv_sec * 1000000L + time.tv_nsec / 1000L; }

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: measure COMMAND [ARG...]\n");
        return 2;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        std::perror("measure");
        return 2;
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    std::printf("%ld %ld %ld %d\n", microseconds(usage.ru_utime) + microseconds(usage.ru_stime),
                microseconds(end) - microseconds(start), usage.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

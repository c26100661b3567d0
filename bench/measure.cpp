// Runs one command and prints what the run cost, on one line: CPU time (user +
// system) in microseconds, wall time in microseconds, peak resident memory in
// KiB, and the exit status. Standard output goes to /dev/null; with --pipe it
// goes into a pipe read by `cat >/dev/null`, and the CPU time counts the reader
// too, so that the whole pipeline is measured.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

long microseconds(const timeval &time) { return time.tv_sec * 1000000L + time.tv_usec; }

long microseconds(const timespec &time) { return time.tv_sec * 1000000L + time.tv_nsec / 1000L; }

// Starts argv with standard input from `in` and standard output to `out` (or /dev/null where -1).
pid_t start(char **argv, int in, int out, int close_in_child) {
    const pid_t child = fork();
    if (child == 0) {
        if (out < 0) {
            out = open("/dev/null", O_WRONLY);
        }
        dup2(out, STDOUT_FILENO);
        if (in >= 0) {
            dup2(in, STDIN_FILENO);
        }
        close(close_in_child);
        execvp(argv[0], argv);
        _exit(127);
    }
    return child;
}

} // namespace

int main(int argc, char **argv) {
    const bool pipeline = argc > 1 && std::strcmp(argv[1], "--pipe") == 0;
    char **command = argv + (pipeline ? 2 : 1);
    if (*command == nullptr) {
        std::fprintf(stderr, "usage: measure [--pipe] COMMAND [ARG...]\n");
        return 2;
    }
    timespec begin{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    pid_t reader = -1;
    pid_t child = -1;
    if (pipeline) {
        int ends[2];
        if (pipe(ends) != 0) {
            std::perror("measure");
            return 2;
        }
        char cat[] = "cat";
        char *reader_argv[] = {cat, nullptr};
        reader = start(reader_argv, ends[0], -1, ends[1]);
        child = start(command, -1, ends[1], ends[0]);
        close(ends[0]);
        close(ends[1]);
    } else {
        child = start(command, -1, -1, -1);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        std::perror("measure");
        return 2;
    }
    long cpu = microseconds(usage.ru_utime) + microseconds(usage.ru_stime);
    rusage reader_usage{};
    int reader_status = 0;
    if (reader > 0 && wait4(reader, &reader_status, 0, &reader_usage) == reader) {
        cpu += microseconds(reader_usage.ru_utime) + microseconds(reader_usage.ru_stime);
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    std::printf("%ld %ld %ld %d\n", cpu, microseconds(end) - microseconds(begin), usage.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

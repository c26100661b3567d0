// kinroll: write every group of the group database to standard output, one line
// per group in the layout of the group file: name:password:gid:member,member
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The listing is built in a buffer of its own and written out with write(2):
// into a pipe or file in blocks of 64 KiB, a pipe's whole capacity; on a
// terminal line by line, so that an interactive listing shows as it goes.
constexpr std::size_t output_size = 65536;
char output[output_size];
std::size_t output_used = 0;
bool line_buffered = false;
// The reason of the first failed write; once set, nothing more is written.
int write_errno = 0;

// Standard output may be a non-blocking descriptor that other processes share:
// rather than clear O_NONBLOCK under them, wait until it takes more.
void wait_writable() {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    while (poll(&out, 1, -1) < 0) {
        if (errno != EINTR) {
            write_errno = errno;
            return;
        }
    }
}

// Writes the buffer out, as much at a time as the descriptor takes. Kept out
// of the line-making code, which it would only crowd.
[[gnu::noinline]] void drain() {
    for (std::size_t done = 0; done < output_used && write_errno == 0;) {
        const ssize_t written = write(STDOUT_FILENO, output + done, output_used - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written == 0) {
            // Nothing taken and no reason given: retrying could go on for ever.
            // A full device is what a write that takes nothing usually means.
            write_errno = ENOSPC;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait_writable();
        } else if (errno != EINTR) {
            write_errno = errno;
        }
    }
    output_used = 0;
}

// A piece longer than the room left fills the buffer and goes on in the next.
[[gnu::cold]] void put_across(const char *bytes, std::size_t size) {
    while (size > output_size - output_used) {
        const std::size_t room = output_size - output_used;
        std::memcpy(output + output_used, bytes, room);
        output_used = output_size;
        drain();
        bytes += room;
        size -= room;
    }
    std::memcpy(output + output_used, bytes, size);
    output_used += size;
}

inline void put(const char *bytes, std::size_t size) {
    if (size > output_size - output_used) {
        put_across(bytes, size);
        return;
    }
    std::memcpy(output + output_used, bytes, size);
    output_used += size;
}

void put(char byte) {
    if (output_used == output_size) {
        drain();
    }
    output[output_used++] = byte;
}

// IDs are the platform's 32-bit unsigned values, written as such on every
// architecture: never negative, whatever the width of long.
void put(std::uint32_t id) {
    constexpr std::size_t digits = 10; // 4294967295
    if (output_size - output_used < digits) {
        drain();
    }
    output_used = static_cast<std::size_t>(std::to_chars(output + output_used, output + output_size, id).ptr - output);
}

// A text field, measured in the same pass that looks for a newline in it.
// The platform should never leave a field absent; if it does, the field
// prints as empty so that the line keeps its shape.
struct Text {
    const char *bytes;
    std::size_t size;
    bool has_newline;
};

Text text(const char *field) {
    if (field == nullptr) {
        return {"", 0, false};
    }
    const char *end = strchrnul(field, '\n');
    return {field, static_cast<std::size_t>(end - field), *end == '\n'};
}

void put(const Text &field) { put(field.bytes, field.size); }

// A member name, already checked for newlines, so only measured.
void put(const char *member) { put(member, std::strlen(member)); }

template <typename... Pieces> void put_all(const Pieces &...pieces) { (put(pieces), ...); }

// Ends the line; a terminal shows it at once.
void end_line() {
    put('\n');
    if (line_buffered) {
        drain();
    }
}

// A newline inside a field would split the group over several lines, and a
// crafted member such as "x\nroot::0:" would forge a line of its own.
bool member_holds_newline(char *const *members) {
    for (char *const *member = members; member != nullptr && *member != nullptr; ++member) {
        if (std::strchr(*member, '\n') != nullptr) {
            return true;
        }
    }
    return false;
}

// The member names, joined by single commas.
void put_members(char *const *members) {
    if (members == nullptr || *members == nullptr) {
        return;
    }
    put(*members);
    for (char *const *member = members + 1; *member != nullptr; ++member) {
        put_all(',', *member);
    }
}

void report_write_error(int reason) { std::fprintf(stderr, "kinroll: write error: %s\n", std::strerror(reason)); }

// A standard descriptor closed at start is the lowest free number, which the
// first file that a source of the database opens would take: the listing or a
// message would go into that file. So a closed standard output is a write
// error at once, and standard input and error get /dev/null. Kept out of main,
// where it would crowd the loop.
bool is_open(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

bool open_if_closed(int descriptor, int flags) { return is_open(descriptor) || open("/dev/null", flags) == descriptor; }

[[gnu::noinline]] bool standard_descriptors_ready() {
    if (!is_open(STDOUT_FILENO)) {
        report_write_error(EBADF);
        return false;
    }
    // Standard output is open, so /dev/null takes the very number that is free.
    if (!open_if_closed(STDIN_FILENO, O_RDONLY) || !open_if_closed(STDERR_FILENO, O_WRONLY)) {
        std::fprintf(stderr, "kinroll: cannot open /dev/null: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int main() {
    if (!standard_descriptors_ready()) {
        return 1;
    }
    bool skipped = false;
    line_buffered = isatty(STDOUT_FILENO) != 0;
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setgrent();
    while (const group *record = getgrent()) {
        const Text name = text(record->gr_name);
        const Text password = text(record->gr_passwd);
        // Every field is checked before anything of the line is written.
        if (name.has_newline || password.has_newline || member_holds_newline(record->gr_mem)) {
            std::fprintf(stderr, "kinroll: skipped group %lu: a field holds a newline\n",
                         static_cast<unsigned long>(record->gr_gid));
            skipped = true;
            continue;
        }
        put_all(name, ':', password, ':', record->gr_gid, ':');
        put_members(record->gr_mem);
        end_line();
        // Once a write has failed, nothing more can reach the reader.
        if (write_errno != 0) {
            break;
        }
    }
    endgrent();

    // Closing standard output here rather than at exit lets a lost listing
    // (full disk, closed descriptor) show in the exit status.
    drain();
    if (close(STDOUT_FILENO) != 0 && write_errno == 0) {
        write_errno = errno;
    }
    if (write_errno != 0) {
        report_write_error(write_errno);
        return 1;
    }
    return skipped ? 1 : 0;
}

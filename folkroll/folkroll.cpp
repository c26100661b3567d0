// folkroll: write every user of the user database to standard output, one line
// per user in the layout of the password file:
// name:password:uid:gid:gecos:home:shell
#include <pwd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// A listing into a pipe or file goes out in writes of 64 KiB, a pipe's whole
// capacity, rather than the C library's default 4 KiB: far fewer write calls.
constexpr std::size_t output_buffer_size = 65536;
char output_buffer[output_buffer_size];

// The platform should never leave a text field absent; if it does, the field
// prints as empty so that the line keeps its seven fields.
const char *text(const char *field) { return field != nullptr ? field : ""; }

bool holds_newline(const char *field) { return field != nullptr && std::strchr(field, '\n') != nullptr; }

// A newline inside any field would split the user over several lines, and a
// crafted field such as "x\nroot2::0:0::/root:/bin/sh" would forge a line of its own.
bool holds_newline(const passwd &record) {
    return holds_newline(record.pw_name) || holds_newline(record.pw_passwd) || holds_newline(record.pw_gecos) ||
           holds_newline(record.pw_dir) || holds_newline(record.pw_shell);
}

// The 32-bit unsigned IDs widen to a signed 64-bit value by zero extension, on
// every architecture, so they never print negative (long has 32 bits on i386).
std::int64_t id(uid_t value) { return static_cast<std::int64_t>(value); }

} // namespace

int main() {
    bool skipped = false;
    bool write_failed = false;
    int write_errno = 0;
    // A terminal keeps its line buffering, so an interactive listing appears line by line.
    if (isatty(STDOUT_FILENO) == 0) {
        std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setpwent();
    while (const passwd *record = getpwent()) {
        if (holds_newline(*record)) {
            std::fprintf(stderr, "folkroll: skipped user %" PRId64 ": a field holds a newline\n", id(record->pw_uid));
            skipped = true;
            continue;
        }
        std::printf("%s:%s:%" PRId64 ":%" PRId64 ":%s:%s:%s\n", text(record->pw_name), text(record->pw_passwd),
                    id(record->pw_uid), id(record->pw_gid), text(record->pw_gecos), text(record->pw_dir),
                    text(record->pw_shell));
        // Once the stream has failed, nothing more can reach the reader.
        if (std::ferror(stdout) != 0) {
            write_failed = true;
            write_errno = errno;
            break;
        }
    }
    endpwent();

    // Closing standard output here rather than at exit lets a lost listing
    // (full disk, closed descriptor) show in the exit status.
    if (!write_failed && std::fclose(stdout) != 0) {
        write_failed = true;
        write_errno = errno;
    }
    if (write_failed) {
        std::fprintf(stderr, "folkroll: write error: %s\n", std::strerror(write_errno));
        return 1;
    }
    return skipped ? 1 : 0;
}

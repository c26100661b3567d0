// kinroll: write every group of the group database to standard output, one line
// per group in the layout of the group file: name:password:gid:member,member
#include <grp.h>

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
// prints as empty so that the line keeps its shape.
const char *text(const char *field) { return field != nullptr ? field : ""; }

bool holds_newline(const char *field) { return field != nullptr && std::strchr(field, '\n') != nullptr; }

// A newline inside any field would split the group over several lines, and a
// crafted member such as "x\nroot::0:" would forge a line of its own.
bool holds_newline(const group &record) {
    if (holds_newline(record.gr_name) || holds_newline(record.gr_passwd)) {
        return true;
    }
    for (char **member = record.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (holds_newline(*member)) {
            return true;
        }
    }
    return false;
}

// The 32-bit unsigned ID widens to a signed 64-bit value by zero extension, on
// every architecture, so it never prints negative (long has 32 bits on i386).
std::int64_t id(gid_t value) { return static_cast<std::int64_t>(value); }

void write_group(const group &record) {
    std::printf("%s:%s:%" PRId64 ":", text(record.gr_name), text(record.gr_passwd), id(record.gr_gid));
    for (char **member = record.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (member != record.gr_mem) {
            std::putchar(',');
        }
        std::printf("%s", *member);
    }
    std::putchar('\n');
}

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
    setgrent();
    while (const group *record = getgrent()) {
        if (holds_newline(*record)) {
            std::fprintf(stderr, "kinroll: skipped group %" PRId64 ": a field holds a newline\n", id(record->gr_gid));
            skipped = true;
            continue;
        }
        write_group(*record);
        // Once the stream has failed, nothing more can reach the reader.
        if (std::ferror(stdout) != 0) {
            write_failed = true;
            write_errno = errno;
            break;
        }
    }
    endgrent();

    // Closing standard output here rather than at exit lets a lost listing
    // (full disk, closed descriptor) show in the exit status.
    if (!write_failed && std::fclose(stdout) != 0) {
        write_failed = true;
        write_errno = errno;
    }
    if (write_failed) {
        std::fprintf(stderr, "kinroll: write error: %s\n", std::strerror(write_errno));
        return 1;
    }
    return skipped ? 1 : 0;
}

// kinroll: write every group of the group database to standard output, one line
// per group in the layout of the group file: name:password:gid:member,member
#include <grp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

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

void write_group(const group &record) {
    // The 32-bit group ID widens to long by zero extension, so it never prints negative.
    std::printf("%s:%s:%ld:", text(record.gr_name), text(record.gr_passwd), static_cast<long>(record.gr_gid));
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
    while (const group *record = getgrent()) {
        if (holds_newline(*record)) {
            std::fprintf(stderr, "kinroll: skipped group %ld: a field holds a newline\n",
                         static_cast<long>(record->gr_gid));
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

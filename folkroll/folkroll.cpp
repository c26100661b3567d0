// folkroll: write every user of the user database to standard output, one line
// per user in the layout of the password file:
// name:password:uid:gid:gecos:home:shell
#include <pwd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

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

} // namespace

int main() {
    bool skipped = false;
    bool write_failed = false;
    int write_errno = 0;
    while (const passwd *record = getpwent()) {
        if (holds_newline(*record)) {
            std::fprintf(stderr, "folkroll: skipped user %ld: a field holds a newline\n",
                         static_cast<long>(record->pw_uid));
            skipped = true;
            continue;
        }
        // The 32-bit IDs widen to long by zero extension, so they never print negative.
        std::printf("%s:%s:%ld:%ld:%s:%s:%s\n", text(record->pw_name), text(record->pw_passwd),
                    static_cast<long>(record->pw_uid), static_cast<long>(record->pw_gid), text(record->pw_gecos),
                    text(record->pw_dir), text(record->pw_shell));
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

// folkroll: write every user of the user database to standard output, one line
// per user in the layout of the password file:
// name:password:uid:gid:gecos:home:shell
#include <pwd.h>
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

// Kept out of the line-making code, which it would only crowd.
[[gnu::noinline]] void drain() {
    for (std::size_t done = 0; done < output_used && write_errno == 0;) {
        const ssize_t written = write(STDOUT_FILENO, output + done, output_used - done);
        if (written >= 0) {
            done += static_cast<std::size_t>(written);
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
// prints as empty so that the line keeps its seven fields.
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

template <typename... Pieces> void put_all(const Pieces &...pieces) { (put(pieces), ...); }

// Ends the line; a terminal shows it at once.
void end_line() {
    put('\n');
    if (line_buffered) {
        drain();
    }
}

} // namespace

int main() {
    bool skipped = false;
    line_buffered = isatty(STDOUT_FILENO) != 0;
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setpwent();
    while (const passwd *user = getpwent()) {
        const Text name = text(user->pw_name);
        const Text password = text(user->pw_passwd);
        const Text gecos = text(user->pw_gecos);
        const Text home = text(user->pw_dir);
        const Text shell = text(user->pw_shell);
        // A newline inside a field would split the user over several lines, and a crafted
        // field such as "x\nroot2::0:0::/root:/bin/sh" would forge a line of its own.
        if (name.has_newline || password.has_newline || gecos.has_newline || home.has_newline || shell.has_newline) {
            std::fprintf(stderr, "folkroll: skipped user %lu: a field holds a newline\n",
                         static_cast<unsigned long>(user->pw_uid));
            skipped = true;
            continue;
        }
        put_all(name, ':', password, ':', user->pw_uid, ':', user->pw_gid, ':', gecos, ':', home, ':', shell);
        end_line();
        // Once a write has failed, nothing more can reach the reader.
        if (write_errno != 0) {
            break;
        }
    }
    endpwent();

    // Closing standard output here rather than at exit lets a lost listing
    // (full disk, closed descriptor) show in the exit status.
    drain();
    if (close(STDOUT_FILENO) != 0 && write_errno == 0) {
        write_errno = errno;
    }
    if (write_errno != 0) {
        std::fprintf(stderr, "folkroll: write error: %s\n", std::strerror(write_errno));
        return 1;
    }
    return skipped ? 1 : 0;
}

// kinroll: write every group of the group database to standard output, one line
// per group in the layout of the group file: name:password:gid:member,member
#include <grp.h>
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

// A group line is checked for newlines as it is copied, so it stays whole in
// the buffer until it is done and can still be taken back. A line that
// outgrows the room left is not split but marked, and made again from an
// empty buffer once it is known to hold no newline: then it may go out in pieces.
bool line_checked = false;
bool line_overflowed = false;

// The buffer is too full for the next piece of the line: drains it where the
// line may go out in pieces, and otherwise marks the line.
bool drain_for_line() {
    if (!line_checked) {
        line_overflowed = true;
        return false;
    }
    drain();
    return true;
}

// A piece longer than the room left: where the line may go out in pieces, a
// piece longer than the whole buffer fills it and goes on in the next.
[[gnu::cold]] void put_across(const char *bytes, std::size_t size) {
    if (!drain_for_line()) {
        return;
    }
    for (; size > output_size; bytes += output_size, size -= output_size) {
        std::memcpy(output, bytes, output_size);
        output_used = output_size;
        drain();
    }
    std::memcpy(output, bytes, size);
    output_used = size;
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
    if (output_used == output_size && !drain_for_line()) {
        return;
    }
    output[output_used++] = byte;
}

// IDs are the platform's 32-bit unsigned values, written as such on every
// architecture: never negative, whatever the width of long.
void put(std::uint32_t id) {
    constexpr std::size_t digits = 10; // 4294967295
    if (output_size - output_used < digits && !drain_for_line()) {
        return;
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

template <typename... Pieces> void put_all(const Pieces &...pieces) { (put(pieces), ...); }

// Puts the group's line; false, and the line unfinished, at the first field
// that holds a newline. Such a field would split the group over several
// lines, and a crafted member such as "x\nroot::0:" would forge a line of its
// own. Inlined into the loop, where a call costs a noticeable share of a line.
[[gnu::always_inline]] inline bool put_group(const group &record) {
    const Text name = text(record.gr_name);
    const Text password = text(record.gr_passwd);
    if (name.has_newline || password.has_newline) {
        return false;
    }
    put_all(name, ':', password, ':', record.gr_gid, ':');
    for (char **member = record.gr_mem; member != nullptr && *member != nullptr; ++member) {
        const Text member_name = text(*member);
        if (member_name.has_newline) {
            return false;
        }
        if (member != record.gr_mem) {
            put(',');
        }
        put(member_name);
    }
    put('\n');
    return true;
}

} // namespace

int main() {
    bool skipped = false;
    line_buffered = isatty(STDOUT_FILENO) != 0;
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setgrent();
    while (const group *record = getgrent()) {
        const std::size_t line_start = output_used;
        line_overflowed = false;
        if (!put_group(*record)) {
            output_used = line_start;
            std::fprintf(stderr, "kinroll: skipped group %lu: a field holds a newline\n",
                         static_cast<unsigned long>(record->gr_gid));
            skipped = true;
            continue;
        }
        if (line_overflowed) {
            output_used = line_start;
            drain();
            line_checked = true;
            put_group(*record);
            line_checked = false;
        }
        // A terminal shows each line at once.
        if (line_buffered) {
            drain();
        }
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
        std::fprintf(stderr, "kinroll: write error: %s\n", std::strerror(write_errno));
        return 1;
    }
    return skipped ? 1 : 0;
}

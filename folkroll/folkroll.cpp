// folkroll: write every user of the user database to standard output, one line
// per user in the layout of the password file:
// name:password:uid:gid:gecos:home:shell
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr char program_name[] = "folkroll";

// ---- output path: the same text in kinroll.cpp and folkroll.cpp, down to its end mark ----

// The listing is built in a buffer of its own and written out with write(2):
// into a pipe or file in blocks of up to 64 KiB, a pipe's whole capacity; on a
// terminal line by line, so that an interactive listing shows as it goes.
constexpr std::size_t output_size = 65536;
char output[output_size];
std::size_t output_used = 0;
bool on_terminal = false;
// Why standard output failed, and so the sign to stop writing to it: 0 while
// it has not.
int output_error = 0;

// An output and the largest write it takes: the whole buffer, unless it is a
// datagram socket, which fails a write larger than a datagram with EMSGSIZE.
// Each output learns its own size, so a small one never shrinks the other's
// writes.
struct Output {
    int descriptor;
    std::size_t largest_write;
};
Output standard_output{STDOUT_FILENO, output_size};
Output standard_error{STDERR_FILENO, output_size};

// An output may be a non-blocking descriptor that other processes share:
// rather than clear O_NONBLOCK under them, wait until it takes more.
int wait_writable(int descriptor) {
    pollfd writable{descriptor, POLLOUT, 0};
    while (poll(&writable, 1, -1) < 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Writes all the bytes, as much at a time as the output takes; returns 0, or
// why it could not.
int write_all(Output &to, const char *bytes, std::size_t size) {
    while (size > 0) {
        const std::size_t attempt = size < to.largest_write ? size : to.largest_write;
        const ssize_t written = write(to.descriptor, bytes, attempt);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written == 0) {
            // Nothing taken and no reason given: retrying could go on for ever.
            // A full device is what a write that takes nothing usually means.
            return ENOSPC;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const int reason = wait_writable(to.descriptor)) {
                return reason;
            }
        } else if (errno == EMSGSIZE && attempt > 1) {
            // More than one datagram holds: the next try is half of this one.
            to.largest_write = attempt / 2;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// The controls that a terminal acts on: C0, DEL, and C1 in UTF-8 (C2 80 to C2 9F).
constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_control = 0x7F;
constexpr unsigned char c1_lead = 0xC2;
constexpr unsigned char c1_first = 0x80;
constexpr unsigned char c1_last = 0x9F;

// On a terminal, a control byte in a field would drive the terminal: retitle
// the window, clear the screen, move the cursor. There each control but the
// line's own newline shows as one '?' a byte, as ls shows such names; every
// other byte stays, so text in any script shows as it is, and the buffer keeps
// its length. Returns how many bytes of the buffer are ready to be written:
// all of them, but for a C2 at its very end, which waits for the byte after
// it to tell whether the two are a control.
std::size_t mask_controls() {
    for (std::size_t i = 0; i < output_used; ++i) {
        const auto byte = static_cast<unsigned char>(output[i]);
        if ((byte < first_printable && byte != '\n') || byte == delete_control) {
            output[i] = '?';
        } else if (byte == c1_lead) {
            if (i + 1 == output_used) {
                return i;
            }
            const auto next = static_cast<unsigned char>(output[i + 1]);
            if (next >= c1_first && next <= c1_last) {
                output[i] = '?';
                output[++i] = '?';
            }
        }
    }
    return output_used;
}

// Writes the buffer out to standard output. Out of line, as are the other
// seldom-called parts (cold): inlined, they would only crowd the code that
// makes the lines.
[[gnu::noinline]] void flush() {
    const std::size_t ready = on_terminal ? mask_controls() : output_used;
    if (output_error == 0) {
        output_error = write_all(standard_output, output, ready);
    }
    // A byte held back begins the buffer anew, to meet the byte after it.
    const std::size_t held_back = output_used - ready;
    std::memmove(output, output + ready, held_back);
    output_used = held_back;
}

// A piece longer than the room left fills the buffer and goes on in the next.
[[gnu::cold]] void put_across(const char *bytes, std::size_t size) {
    while (size > output_size - output_used) {
        const std::size_t room = output_size - output_used;
        std::memcpy(output + output_used, bytes, room);
        output_used = output_size;
        flush();
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
        flush();
    }
    output[output_used++] = byte;
}

// IDs are the platform's 32-bit unsigned values, written as such on every
// architecture: never negative, whatever the width of long.
void put(std::uint32_t id) {
    constexpr std::size_t digits = 10; // 4294967295
    if (output_size - output_used < digits) {
        flush();
    }
    output_used = static_cast<std::size_t>(std::to_chars(output + output_used, output + output_size, id).ptr - output);
}

// A text field, measured in the same pass that looks for a newline in it.
// The platform should never leave a field absent; if it does, the field
// prints as empty so that the line keeps its shape.
struct Field {
    const char *bytes;
    std::size_t size;
    bool has_newline;
};

Field measure(const char *text) {
    if (text == nullptr) {
        return {"", 0, false};
    }
    const char *end = strchrnul(text, '\n');
    return {text, static_cast<std::size_t>(end - text), *end == '\n'};
}

void put(const Field &field) { put(field.bytes, field.size); }

template <typename... Pieces> void put_all(const Pieces &...pieces) { (put(pieces), ...); }

// Ends the line; a terminal shows it at once.
void end_line() {
    put('\n');
    if (on_terminal) {
        flush();
    }
}

// Messages are made by snprintf in buffers of this size.
constexpr std::size_t message_size = 128; // the longest is under 100 bytes

// Writes a message to standard error, whole in one write where the descriptor
// takes it. LENGTH is what snprintf returned, which exceeds the buffer where
// it had to cut the text. What the listing's buffer holds goes out first, so
// that where both outputs share a descriptor the message starts a line of its
// own. If standard error cannot take it, nothing is left to tell; the exit
// status still does.
void write_message(const char *message, int length) {
    flush();
    if (length > 0) {
        const auto size = static_cast<std::size_t>(length);
        static_cast<void>(write_all(standard_error, message, size < message_size ? size : message_size - 1));
    }
}

void report_write_error(int reason) {
    char message[message_size];
    const int length =
        std::snprintf(message, sizeof message, "%s: write error: %s\n", program_name, std::strerror(reason));
    write_message(message, length);
}

// ENTRY is "group" or "user", ID its number.
[[gnu::cold]] void report_skipped(const char *entry, std::uint32_t id) {
    char message[message_size];
    const int length = std::snprintf(message, sizeof message, "%s: skipped %s %lu: a field holds a newline\n",
                                     program_name, entry, static_cast<unsigned long>(id));
    write_message(message, length);
}

bool is_open(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

// Puts /dev/null on a closed standard error. With standard input closed too,
// /dev/null comes as 0: it is copied to 2, and 0 is closed again, as it was.
bool null_standard_error() {
    const int null = open("/dev/null", O_WRONLY);
    if (null == STDERR_FILENO) {
        return true;
    }
    if (null < 0) {
        return false;
    }
    const bool copied = dup2(null, STDERR_FILENO) == STDERR_FILENO;
    close(null);
    return copied;
}

// Checks the standard descriptors, and notes whether standard output is a
// terminal. A standard descriptor closed at start is the lowest free number,
// which the first file that a source of the database opens would take. A
// closed standard output is a write error at once, as the listing would go
// into that file; a closed standard error gets /dev/null, as the messages
// would, and without a /dev/null the program stops there with status 1 and
// nothing written, as there is nowhere to say why. Standard input is never
// read or written, so it is left as it is, and a file may take its number.
[[gnu::noinline]] bool start_output() {
    if (!is_open(STDOUT_FILENO)) {
        report_write_error(EBADF);
        return false;
    }
    if (!is_open(STDERR_FILENO) && !null_standard_error()) {
        return false;
    }
    on_terminal = isatty(STDOUT_FILENO) != 0;
    return true;
}

// Closing standard output here rather than at exit lets a lost listing (full
// disk, closed descriptor) show in the exit status.
int finish_listing(bool skipped) {
    flush();
    if (close(STDOUT_FILENO) != 0 && output_error == 0) {
        output_error = errno;
    }
    if (output_error != 0) {
        report_write_error(output_error);
        return 1;
    }
    return skipped ? 1 : 0;
}

// ---- output path ends ----

} // namespace

int main() {
    if (!start_output()) {
        return 1;
    }
    bool skipped = false;
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setpwent();
    while (const passwd *user = getpwent()) {
        const Field name = measure(user->pw_name);
        const Field password = measure(user->pw_passwd);
        const Field gecos = measure(user->pw_gecos);
        const Field home = measure(user->pw_dir);
        const Field shell = measure(user->pw_shell);
        // A newline inside a field would split the user over several lines, and a crafted
        // field such as "x\nroot2::0:0::/root:/bin/sh" would forge a line of its own.
        if (name.has_newline || password.has_newline || gecos.has_newline || home.has_newline || shell.has_newline) {
            report_skipped("user", user->pw_uid);
            skipped = true;
            continue;
        }
        put_all(name, ':', password, ':', user->pw_uid, ':', user->pw_gid, ':', gecos, ':', home, ':', shell);
        end_line();
        // Once a write has failed, nothing more can reach the reader.
        if (output_error != 0) {
            break;
        }
    }
    endpwent();
    return finish_listing(skipped);
}

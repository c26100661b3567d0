// folkroll: write every user of the user database to standard output, one line
// per user in the layout of the password file:
// name:password:uid:gid:gecos:home:shell
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr char program_name[] = "folkroll";

// ---- output path: the same text in kinroll.cpp and folkroll.cpp, down to its end mark ----

// The listing is built in a buffer of its own and written out with write(2):
// into a pipe or file in blocks of up to 64 KiB, a pipe's whole capacity; on a
// terminal line by line, so that an interactive listing shows as it goes.
constexpr std::size_t listing_size = 65536;
char listing[listing_size];
std::size_t listing_used = 0;
bool on_terminal = false;
// Why standard output failed, and so the sign to stop writing to it: 0 while
// it has not.
int stdout_error = 0;

// A descriptor to write to, and what it has shown of the writes it takes. A
// datagram socket fails a write larger than a datagram with EMSGSIZE. A piece
// smaller than the smallest write that failed may still fit, so it goes out
// whole; a larger one goes out in pieces of the size to try. Standard output
// and standard error each learn their own sizes, so a small one never splits
// the other's writes.
struct Output {
    int descriptor;
    std::size_t smallest_failed; // none has failed: larger than any write
    std::size_t size_to_try;
};
Output standard_output{STDOUT_FILENO, SIZE_MAX, listing_size};
Output standard_error{STDERR_FILENO, SIZE_MAX, listing_size};

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
        const std::size_t attempt = size < to.smallest_failed ? size : to.size_to_try;
        const ssize_t written = write(to.descriptor, bytes, attempt);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written == 0) {
            // Nothing taken and no reason given: retrying could go on for
            // ever, so this ends the output. Calling it a full device is our
            // choice, what a write that takes nothing usually means.
            return ENOSPC;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const int reason = wait_writable(to.descriptor)) {
                return reason;
            }
        } else if (errno == EMSGSIZE && attempt > 1) {
            // Too large for one datagram. The size to try halves where it, or
            // less, has failed; a whole piece above it leaves it as it is.
            to.smallest_failed = attempt;
            if (attempt <= to.size_to_try) {
                to.size_to_try = attempt / 2;
            }
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// What a byte of the listing is to the terminal, in the character set of
// the locale: text, shown as it is; a control, which the terminal would act
// on; or the first byte of a control of two or three bytes in UTF-8.
enum class ByteClass : unsigned char { text, control, utf8_lead };
ByteClass byte_classes[UCHAR_MAX + 1];

constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_control = 0x7F;
constexpr unsigned char first_non_ascii = 0x80;

// The controls of more than one byte in UTF-8: C1, and the explicit
// bidirectional controls, which make a terminal that lays out right-to-left
// text reorder the rest of the line. Each is a range of byte sequences, the
// sequences from FIRST to LAST byte by byte.
struct Utf8Control {
    std::size_t length;
    unsigned char first[3];
    unsigned char last[3];
};
constexpr Utf8Control utf8_controls[] = {
    {2, {0xC2, 0x80}, {0xC2, 0x9F}},             // C1, U+0080 to U+009F
    {3, {0xE2, 0x80, 0xAA}, {0xE2, 0x80, 0xAE}}, // U+202A to U+202E: embeddings, overrides, pop
    {3, {0xE2, 0x81, 0xA6}, {0xE2, 0x81, 0xA9}}, // U+2066 to U+2069: isolates
};

// Reads the character set of the locale that the environment names, which a
// terminal's user sets to match the terminal, and classes the bytes by it:
// - always, C0 but the line's own newline, and DEL, are controls;
// - in UTF-8, so are the sequences above; C and POSIX count as UTF-8, which
//   terminals are today also where no locale is set (containers, many ssh
//   sessions), and so does a locale that cannot be loaded, which leaves C;
// - in any other character set (ISO 8859, KOI8-R, EUC-JP, GB18030, ...) a
//   byte from 0x80 up is a control where the locale calls it one: C1 in ISO
//   8859, but in GB18030 or KOI8-R such bytes are letters.
void read_terminal_charset() {
    const char *locale = std::setlocale(LC_CTYPE, "");
    const bool utf8 = locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0 ||
                      std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    for (unsigned byte = 0; byte <= UCHAR_MAX; ++byte) {
        bool control = (byte < first_printable && byte != '\n') || byte == delete_control;
        if (!utf8 && byte >= first_non_ascii) {
            control = std::iscntrl(static_cast<int>(byte)) != 0;
        }
        byte_classes[byte] = control ? ByteClass::control : ByteClass::text;
    }
    if (utf8) {
        for (const Utf8Control &sequence : utf8_controls) {
            byte_classes[sequence.first[0]] = ByteClass::utf8_lead;
        }
    }
}

// How many bytes from BYTES, LEFT of them in the buffer, make a UTF-8
// control: 0 where none begins there; more than LEFT where the buffer ends
// before the bytes that tell.
std::size_t utf8_control_length(const char *bytes, std::size_t left) {
    for (const Utf8Control &sequence : utf8_controls) {
        std::size_t matched = 0;
        while (matched < sequence.length && matched < left &&
               static_cast<unsigned char>(bytes[matched]) >= sequence.first[matched] &&
               static_cast<unsigned char>(bytes[matched]) <= sequence.last[matched]) {
            ++matched;
        }
        if (matched == sequence.length || matched == left) {
            return sequence.length;
        }
    }
    return 0;
}

// On a terminal, a control in a field would drive the terminal: retitle the
// window, clear the screen, move the cursor, reorder the line. There each
// shows as one '?' per byte, as ls shows such names, so the line keeps its
// length; every other byte stays, so text in any script shows as it is.
// Returns how many bytes of the buffer are ready to be written: all of them,
// but for a control's first bytes at its very end, which wait for the bytes
// after them to tell what they are.
std::size_t mask_controls() {
    std::size_t i = 0;
    while (i < listing_used) {
        std::size_t length = 0;
        switch (byte_classes[static_cast<unsigned char>(listing[i])]) {
        case ByteClass::text:
            break;
        case ByteClass::control:
            length = 1;
            break;
        case ByteClass::utf8_lead:
            length = utf8_control_length(listing + i, listing_used - i);
            if (length > listing_used - i) {
                return i;
            }
            break;
        }
        std::memset(listing + i, '?', length);
        i += length > 0 ? length : 1;
    }
    return listing_used;
}

// Writes the buffer out to standard output. Out of line, as are the other
// parts seldom called (cold), so that they do not crowd the code that makes
// the lines: into a pipe or file it runs once per 64 KiB; on a terminal once
// per line, where the write itself costs far more than the call.
[[gnu::noinline]] void flush() {
    const std::size_t ready = on_terminal ? mask_controls() : listing_used;
    if (stdout_error == 0) {
        stdout_error = write_all(standard_output, listing, ready);
    }
    // Bytes held back begin the buffer anew, to meet the bytes after them.
    const std::size_t held_back = listing_used - ready;
    std::memmove(listing, listing + ready, held_back);
    listing_used = held_back;
}

// A piece longer than the room left fills the buffer and goes on in the next.
[[gnu::cold]] void put_across(const char *bytes, std::size_t size) {
    while (size > listing_size - listing_used) {
        const std::size_t room = listing_size - listing_used;
        std::memcpy(listing + listing_used, bytes, room);
        listing_used = listing_size;
        flush();
        bytes += room;
        size -= room;
    }
    std::memcpy(listing + listing_used, bytes, size);
    listing_used += size;
}

inline void put(const char *bytes, std::size_t size) {
    if (size > listing_size - listing_used) {
        put_across(bytes, size);
        return;
    }
    std::memcpy(listing + listing_used, bytes, size);
    listing_used += size;
}

void put(char byte) {
    if (listing_used == listing_size) {
        flush();
    }
    listing[listing_used++] = byte;
}

// IDs are the platform's 32-bit unsigned values, written as such on every
// architecture: never negative, whatever the width of long.
void put(std::uint32_t id) {
    constexpr std::size_t digits = 10; // 4294967295
    if (listing_size - listing_used < digits) {
        flush();
    }
    listing_used =
        static_cast<std::size_t>(std::to_chars(listing + listing_used, listing + listing_size, id).ptr - listing);
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

// Formats a message with snprintf in a buffer of its own, and writes it to
// standard error, whole in one write where the descriptor takes it. What the
// listing's buffer holds goes out first, so that where both outputs share a
// descriptor the message starts a line of its own. If standard error cannot
// take it, nothing is left to tell; the exit status still does.
template <typename... Values> void report(const char *format, Values... values) {
    constexpr std::size_t message_size = 128; // the longest is under 100 bytes
    char message[message_size];
    const int length = std::snprintf(message, sizeof message, format, values...);
    flush();
    if (length > 0) {
        // snprintf returns the length of the whole text, also where it had to cut it.
        const auto size = static_cast<std::size_t>(length);
        static_cast<void>(write_all(standard_error, message, size < sizeof message ? size : sizeof message - 1));
    }
}

void report_write_error(int reason) { report("%s: write error: %s\n", program_name, std::strerror(reason)); }

// ENTRY is "group" or "user", ID its number.
[[gnu::cold]] void report_skipped(const char *entry, std::uint32_t id) {
    report("%s: skipped %s %lu: a field holds a newline\n", program_name, entry, static_cast<unsigned long>(id));
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

// Checks the standard descriptors, and on a terminal reads its character
// set. A standard descriptor closed at start is the lowest free number, which
// the first file that a source of the database opens would take. A closed
// standard output is a write error at once, as the listing would go into that
// file; a closed standard error gets /dev/null, as the messages would, and
// without a /dev/null the program stops there with status 1 and nothing
// written, as there is nowhere to say why. Standard input is never read or
// written, so it is left as it is, and a file may take its number.
bool start_output() {
    if (!is_open(STDOUT_FILENO)) {
        report_write_error(EBADF);
        return false;
    }
    if (!is_open(STDERR_FILENO) && !null_standard_error()) {
        return false;
    }
    on_terminal = isatty(STDOUT_FILENO) != 0;
    if (on_terminal) {
        read_terminal_charset();
    }
    return true;
}

// Closing standard output here rather than at exit lets a lost listing (full
// disk, closed descriptor) show in the exit status.
int finish_listing(bool skipped) {
    flush();
    if (close(STDOUT_FILENO) != 0 && stdout_error == 0) {
        stdout_error = errno;
    }
    if (stdout_error != 0) {
        report_write_error(stdout_error);
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
        if (stdout_error != 0) {
            break;
        }
    }
    endpwent();
    return finish_listing(skipped);
}

// kinroll: write every group of the group database to standard output, one line
// per group in the layout of the group file: name:password:gid:member,member
#include <ctype.h>
#include <fcntl.h>
#include <grp.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>

namespace {

constexpr char program_name[] = "kinroll";

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
// on; or a byte that may begin the form of a control written in more than one
// byte (C2 and E2 in UTF-8, 81 in GB18030), which mostly begins text.
enum class ByteClass : unsigned char { text, control, form_start };
ByteClass byte_classes[UCHAR_MAX + 1];

constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_control = 0x7F;
// C1, the bytes that an 8-bit terminal takes as controls (9B is CSI, which
// begins an escape sequence) where the character set does not use them in a
// character.
constexpr unsigned char first_c1 = 0x80;
constexpr unsigned char last_c1 = 0x9F;

// The controls above ASCII, as ranges of code points: C1, and the explicit
// bidirectional controls, which make a terminal that lays out right-to-left
// text reorder the rest of the line.
struct CodePoints {
    char32_t first;
    char32_t last;
};
constexpr CodePoints controls_above_ascii[] = {
    {0x80, 0x9F},     // C1
    {0x202A, 0x202E}, // embeddings, overrides, pop
    {0x2066, 0x2069}, // isolates
};
constexpr std::size_t count_controls_above_ascii() {
    std::size_t count = 0;
    for (std::size_t i = 0; i < std::size(controls_above_ascii); ++i) {
        count += controls_above_ascii[i].last - controls_above_ascii[i].first + 1;
    }
    return count;
}

// The forms of more than one byte that the character set gives those
// controls, as runs of forms that differ only in their last byte, which
// counts up by one from each form to the next: UTF-8's C1 is one run, C2 80
// to C2 9F; GB18030's 41 forms of four bytes make seven runs.
struct FormRun {
    std::size_t length;
    unsigned char first[MB_LEN_MAX]; // the run's first form
    unsigned char last_byte_to;      // the last byte of its last form
};
FormRun form_runs[count_controls_above_ascii()];
std::size_t form_run_count = 0;

// UTF-8's runs, for where no locale is loaded; a UTF-8 locale gives the same.
constexpr FormRun utf8_form_runs[] = {
    {2, {0xC2, 0x80}, 0x9F},       // C1, U+0080 to U+009F
    {3, {0xE2, 0x80, 0xAA}, 0xAE}, // U+202A to U+202E
    {3, {0xE2, 0x81, 0xA6}, 0xA9}, // U+2066 to U+2069
};

// Marks the first byte of a control's forms as one that may begin a
// control, unless it is one alone.
void mark_form_start(unsigned char byte) {
    if (byte_classes[byte] == ByteClass::text) {
        byte_classes[byte] = ByteClass::form_start;
    }
}

// Adds a control's FORM of LENGTH bytes, 2 or more, to the runs: to the last
// one where it follows on from it.
void add_form(const unsigned char *form, std::size_t length) {
    const std::size_t last = length - 1;
    if (form_run_count > 0) {
        FormRun &run = form_runs[form_run_count - 1];
        if (run.length == length && std::memcmp(run.first, form, last) == 0 && run.last_byte_to + 1 == form[last]) {
            run.last_byte_to = form[last];
            return;
        }
    }
    FormRun &run = form_runs[form_run_count++];
    run.length = length;
    std::memcpy(run.first, form, length);
    run.last_byte_to = form[last];
    mark_form_start(form[0]);
}

// Adds the forms of more than one byte that the character set of the
// thread's locale gives the controls above ASCII, as the C library writes
// them (its wide characters are code points). A form of one byte, or none,
// leaves the byte classes as they are.
void add_locale_forms() {
    for (const CodePoints &range : controls_above_ascii) {
        for (char32_t code_point = range.first; code_point <= range.last; ++code_point) {
            unsigned char form[MB_LEN_MAX];
            std::mbstate_t state{};
            const std::size_t length =
                std::wcrtomb(reinterpret_cast<char *>(form), static_cast<wchar_t>(code_point), &state);
            if (length > 1 && length != static_cast<std::size_t>(-1)) {
                add_form(form, length);
            }
        }
    }
}

// The walk over the characters of a character set other than UTF-8 that
// finds the bytes from 0x80 to 0x9F it uses in a character. It tries
// sequences of bytes as a tree, every byte after each sequence that begins
// a character, and marks the C1 bytes of each character it meets. A
// character set that checks a character only once it has all its bytes
// makes it try many (EUC-TW's some 270,000 sequences, EUC-JP's 27,000), so
// it ends after a bound, and a byte not found by then stays a control.
struct CharsetWalk {
    unsigned char sequence[MB_LEN_MAX];
    // The bytes of the longest character tried: MB_CUR_MAX, but at least 2,
    // as ISO 6937 says 1 and has characters of 2, and never more than the
    // sequence holds, whatever the C library says.
    std::size_t longest;
    unsigned long conversions_left;
    unsigned unknown; // C1 bytes not yet found in a character
    bool used[last_c1 - first_c1 + 1];
};
constexpr unsigned long walk_bound = 1UL << 20;
static_assert(MB_LEN_MAX >= 2, "the walk tries sequences of 2 bytes at least");

bool is_unknown(const CharsetWalk &walk, unsigned char byte) {
    return byte >= first_c1 && byte <= last_c1 && !walk.used[byte - first_c1];
}

void mark_used(CharsetWalk &walk, unsigned char byte) {
    if (is_unknown(walk, byte)) {
        walk.used[byte - first_c1] = true;
        --walk.unknown;
    }
}

// Whether the walk may find more: a C1 byte is still unknown, and its bound
// is not met.
bool may_find_more(const CharsetWalk &walk) { return walk.unknown > 0 && walk.conversions_left > 0; }

// What mbrtowc makes of the first bytes of the sequence, in the thread's
// locale: a whole character, the beginning of one, or neither.
enum class Conversion : unsigned char { character, begun, none };

Conversion convert(CharsetWalk &walk, std::size_t length) {
    --walk.conversions_left;
    std::mbstate_t state{};
    wchar_t character = 0;
    const std::size_t answer = std::mbrtowc(&character, reinterpret_cast<const char *>(walk.sequence), length, &state);
    if (answer == static_cast<std::size_t>(-2)) {
        return Conversion::begun;
    }
    return answer == static_cast<std::size_t>(-1) ? Conversion::none : Conversion::character;
}

// The walk tries the bytes from 0x80 up first, then those below: the later
// bytes of a character are mostly there, so its end is soon found. N runs
// from 0 to 0xFF, and from N = 0x80 on the sum passes 0xFF: its conversion to
// unsigned char wraps it round to 0x00 and on, as it does for every unsigned
// type, modulo UCHAR_MAX + 1, so that each byte comes once.
unsigned char nth_byte(unsigned n) { return static_cast<unsigned char>(first_c1 + n); }

// Whether the first LENGTH bytes of the sequence hold a C1 byte not yet found.
bool holds_unknown(const CharsetWalk &walk, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (is_unknown(walk, walk.sequence[i])) {
            return true;
        }
    }
    return false;
}

// Tries each byte after the first LENGTH bytes of the sequence, which begin a
// character, and marks the C1 bytes of every character that it or the bytes
// after it end. LENGTH is below walk.longest, so the byte is within the
// sequence. As a character's last byte, once the bytes before it are known,
// only an unknown C1 byte can tell something, and the C1 bytes come first.
void try_next_bytes(CharsetWalk &walk, std::size_t length) {
    const bool last_byte = length + 1 >= walk.longest;
    bool earlier_bytes_known = !holds_unknown(walk, length);
    for (unsigned n = 0; n <= UCHAR_MAX && may_find_more(walk); ++n) {
        const unsigned char byte = nth_byte(n);
        if (last_byte && earlier_bytes_known) {
            if (n > last_c1 - first_c1) {
                break;
            }
            if (!is_unknown(walk, byte)) {
                continue;
            }
        }
        walk.sequence[length] = byte;
        switch (convert(walk, length + 1)) {
        case Conversion::character:
            for (std::size_t i = 0; i <= length; ++i) {
                mark_used(walk, walk.sequence[i]);
            }
            earlier_bytes_known = true;
            break;
        case Conversion::begun:
            if (!last_byte) {
                try_next_bytes(walk, length + 1);
            }
            break;
        case Conversion::none:
            break;
        }
    }
}

// Whether BYTE alone is a printable character, in the thread's locale. A
// whole string rather than mbrtowc: a character set that combines a letter
// with a mark after it (CP1258, TCVN) gives the letter only where the text
// ends.
bool printable_alone(unsigned char byte) {
    const char text[] = {static_cast<char>(byte), '\0'};
    wchar_t characters[2] = {};
    return std::mbstowcs(characters, text, 2) == 1 && std::iswprint(static_cast<wint_t>(characters[0])) != 0;
}

// Classes the bytes from 0x80 up by the character set of the thread's locale,
// one other than UTF-8: a byte from 0x80 to 0x9F shows as it is only where
// the character set uses it in a character, alone as a printable one or as
// any byte of a longer one (the README lists what that masks in each
// character set a user can choose); a byte above 0x9F is a control where the
// locale calls it one.
void class_charset_bytes() {
    CharsetWalk walk{};
    walk.longest = std::min(std::max(MB_CUR_MAX, std::size_t{2}), sizeof walk.sequence);
    walk.conversions_left = walk_bound;
    walk.unknown = last_c1 - first_c1 + 1;
    for (unsigned n = 0; n <= UCHAR_MAX && may_find_more(walk); ++n) {
        walk.sequence[0] = nth_byte(n);
        if (is_unknown(walk, walk.sequence[0]) && printable_alone(walk.sequence[0])) {
            mark_used(walk, walk.sequence[0]);
        }
        if (convert(walk, 1) == Conversion::begun) {
            try_next_bytes(walk, 1);
        }
    }
    for (unsigned byte = first_c1; byte <= UCHAR_MAX; ++byte) {
        const bool control = byte <= last_c1 ? !walk.used[byte - first_c1] : iscntrl(static_cast<int>(byte)) != 0;
        if (control) {
            byte_classes[byte] = ByteClass::control;
        }
    }
}

// Which bytes from 0x80 up are controls alone.
enum class HighBytes : unsigned char {
    text,    // none: UTF-8, where every control above ASCII has a longer form
    c1,      // all from 0x80 to 0x9F: an 8-bit terminal of a character set not known
    charset, // those the locale's character set does not use in a character
};

// Builds the byte classes, in this order: C0 but the line's own newline, and
// DEL, are controls in every character set (in TCVN and VISCII that masks
// the capitals stored in C0 as well); the bytes from 0x80 up are controls
// alone as HIGH says; the first byte of each form of more than one byte of
// a control above ASCII may begin one, where it is text alone. The forms are
// those of LOCALE's character set, or UTF-8's where none is loaded (null).
void class_bytes(HighBytes high, locale_t locale) {
    for (unsigned byte = 0; byte <= UCHAR_MAX; ++byte) {
        const bool control = (byte < first_printable && byte != '\n') || byte == delete_control;
        byte_classes[byte] = control ? ByteClass::control : ByteClass::text;
    }
    if (high == HighBytes::c1) {
        for (unsigned byte = first_c1; byte <= last_c1; ++byte) {
            byte_classes[byte] = ByteClass::control;
        }
    }
    if (locale == nullptr) {
        for (const FormRun &run : utf8_form_runs) {
            form_runs[form_run_count++] = run;
            mark_form_start(run.first[0]);
        }
        return;
    }
    // mbrtowc, wcrtomb and the like take no locale: they run in the thread's
    // locale, LOCALE for this part only.
    const locale_t previous = uselocale(locale);
    if (high == HighBytes::charset) {
        class_charset_bytes();
    }
    add_locale_forms();
    uselocale(previous);
}

// The locale the environment names for the character set, as the C library
// picks it: the first of LC_ALL, LC_CTYPE and LANG that is set and not
// empty; "C" where none is.
const char *charset_locale_name() {
    constexpr const char *variables[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char *variable : variables) {
        const char *name = std::getenv(variable);
        if (name != nullptr && *name != '\0') {
            return name;
        }
    }
    return "C";
}

// Whether a locale's name names UTF-8 as its character set, read as the C
// library reads it: the part after a '.' ("xx_XX.UTF-8"), or else the whole
// name (a bare "UTF-8", as some terminals set LC_CTYPE), up to any
// "@modifier"; of that, the letters and digits alone, in any case ("utf8",
// "Utf-8").
bool names_utf8(const char *name) {
    const char *const end = name + std::strcspn(name, "@");
    const char *const dot = static_cast<const char *>(std::memchr(name, '.', static_cast<std::size_t>(end - name)));
    constexpr char utf8[] = "utf8";
    std::size_t matched = 0;
    for (const char *c = dot != nullptr ? dot + 1 : name; c < end; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (isalnum(byte) == 0) {
            continue;
        }
        if (matched == sizeof utf8 - 1 || tolower(byte) != utf8[matched]) {
            return false;
        }
        ++matched;
    }
    return matched == sizeof utf8 - 1;
}

// Reads the character set of the locale that the environment names, which a
// terminal's user sets to match the terminal, and classes the bytes by it.
// The locale is loaded into an object of its own and the process's locale
// stays C, in which the C library reads its name service configuration: in a
// Turkish locale, where I and i are not one letter's two cases, its parser
// would reject the whole file over an action such as [NOTFOUND=continue].
// C and POSIX count as UTF-8, which terminals are today also where no locale
// is set (containers, many ssh sessions). So does a locale that cannot be
// loaded where its name says UTF-8 (LC_CTYPE=UTF-8, which a Mac's terminal
// sets and ssh passes on); where it names another character set, or none,
// the terminal may be an 8-bit one, and C1 is masked as well.
void class_bytes_for_terminal() {
    const char *name = charset_locale_name();
    if (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) {
        class_bytes(HighBytes::text, nullptr);
        return;
    }
    const locale_t locale = newlocale(LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) {
        class_bytes(names_utf8(name) ? HighBytes::text : HighBytes::c1, nullptr);
        return;
    }
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
    class_bytes(utf8 ? HighBytes::text : HighBytes::charset, locale);
    freelocale(locale);
}

// A control's form cut by the end of the buffer: its first bytes wait for
// the bytes after them to tell what they are.
constexpr std::size_t cut_by_buffer_end = SIZE_MAX;

// How many bytes from BYTES, LEFT of them in the buffer, make a control's
// form: 0 where none begins there, or cut_by_buffer_end where all LEFT begin
// one.
std::size_t form_length(const char *bytes, std::size_t left) {
    for (std::size_t r = 0; r < form_run_count; ++r) {
        const FormRun &run = form_runs[r];
        const std::size_t last = run.length - 1;
        std::size_t matched = 0;
        while (matched < last && matched < left && static_cast<unsigned char>(bytes[matched]) == run.first[matched]) {
            ++matched;
        }
        if (matched == left) {
            return cut_by_buffer_end;
        }
        if (matched == last) {
            const auto last_byte = static_cast<unsigned char>(bytes[last]);
            if (last_byte >= run.first[last] && last_byte <= run.last_byte_to) {
                return run.length;
            }
        }
    }
    return 0;
}

// On a terminal, a control in a field would drive the terminal: retitle the
// window, clear the screen, move the cursor, reorder the line. There each
// shows as one '?' per byte, as ls shows such names, so the line keeps its
// length; every other byte stays, so text in any script shows as it is.
// A form is masked wherever its bytes stand, also across the boundary of
// two characters: in GB18030, which does not tell a character's first byte
// from a later one, no terminal can then find one in the bytes it gets,
// whatever it makes of broken ones. Returns how many bytes of the buffer are
// ready to be written: all of them, but for a form cut by the buffer's end.
std::size_t mask_controls() {
    std::size_t i = 0;
    while (i < listing_used) {
        // Most bytes are text: they pass in a loop of their own.
        while (i < listing_used && byte_classes[static_cast<unsigned char>(listing[i])] == ByteClass::text) {
            ++i;
        }
        if (i == listing_used) {
            break;
        }
        if (byte_classes[static_cast<unsigned char>(listing[i])] == ByteClass::control) {
            listing[i++] = '?';
            continue;
        }
        const std::size_t length = form_length(listing + i, listing_used - i);
        if (length == cut_by_buffer_end) {
            return i;
        }
        if (length == 0) {
            ++i;
        } else {
            std::memset(listing + i, '?', length);
            i += length;
        }
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

// A message for standard error, made by its caller with snprintf from a
// literal format, so that the compiler checks the format against the values.
constexpr std::size_t message_size = 128; // the longest is under 100 bytes
using Message = char[message_size];

// Writes MESSAGE, whose length snprintf answered in making it, to standard
// error, whole in one write where the descriptor takes it. What the listing's
// buffer holds goes out first, so that where both outputs share a descriptor
// the message starts a line of its own. If standard error cannot take it,
// nothing is left to tell; the exit status still does.
void report(const Message &message, int length) {
    flush();
    if (length > 0) {
        // snprintf answers the length of the whole text, also where it had to cut it.
        const auto size = static_cast<std::size_t>(length);
        static_cast<void>(write_all(standard_error, message, size < sizeof message ? size : sizeof message - 1));
    }
}

void report_write_error(int reason) {
    Message message;
    const int length =
        std::snprintf(message, sizeof message, "%s: write error: %s\n", program_name, std::strerror(reason));
    report(message, length);
}

// ENTRY is "group" or "user", ID its number.
[[gnu::cold]] void report_skipped(const char *entry, std::uint32_t id) {
    Message message;
    const int length = std::snprintf(message, sizeof message, "%s: skipped %s %lu: a field holds a newline\n",
                                     program_name, entry, static_cast<unsigned long>(id));
    report(message, length);
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
        class_bytes_for_terminal();
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

// A newline inside a field would split the group over several lines, and a
// crafted member such as "x\nroot::0:" would forge a line of its own.
bool member_holds_newline(char *const *members) {
    if (members == nullptr) {
        return false;
    }
    for (char *const *member = members; *member != nullptr; ++member) {
        if (std::strchr(*member, '\n') != nullptr) {
            return true;
        }
    }
    return false;
}

// A member name, already checked for newlines, so only measured.
void put(const char *member) { put(member, std::strlen(member)); }

// The member names, joined by single commas.
void put_members(char *const *members) {
    if (members == nullptr || *members == nullptr) {
        return;
    }
    put(*members);
    for (char *const *member = members + 1; *member != nullptr; ++member) {
        put(',');
        put(*member);
    }
}

} // namespace

int main() {
    if (!start_output()) {
        return 1;
    }
    bool skipped = false;
    // Open the enumeration before the first fetch: the C library opens every
    // later source as it moves on, but the first one only here, and a first
    // source that does not open itself lazily would be skipped without a word.
    setgrent();
    while (const group *record = getgrent()) {
        const Field name = measure(record->gr_name);
        const Field password = measure(record->gr_passwd);
        // Every field is checked before anything of the line is written.
        if (name.has_newline || password.has_newline || member_holds_newline(record->gr_mem)) {
            report_skipped("group", record->gr_gid);
            skipped = true;
            continue;
        }
        put_all(name, ':', password, ':', record->gr_gid, ':');
        put_members(record->gr_mem);
        end_line();
        // Once a write has failed, nothing more can reach the reader.
        if (stdout_error != 0) {
            break;
        }
    }
    endgrent();
    return finish_listing(skipped);
}

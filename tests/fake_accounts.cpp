// A stand-in for the C library's account enumeration, loaded with LD_PRELOAD,
// for records that no database file can hold: absent (null) fields and fields
// with a newline in them. It serves the records of the file named by
// FAKE_ACCOUNTS_RECORDS and appends the name of every enumeration call made to
// the file named by FAKE_ACCOUNTS_CALLS.
//
// Where FAKE_ACCOUNTS_HOLD names a file, opening the enumeration opens it for
// writing and keeps it open, as a source that reads its database through
// descriptors of its own would, once on every standard descriptor that is
// closed and once more past them. And it stands in for write(2), close(2) and
// poll(2), for answers that no real descriptor gives on demand. On standard output:
// FAKE_WRITE_MAX=N takes at most N bytes a call, FAKE_WRITE_EINTR=1 fails
// every other call with EINTR, FAKE_WRITE_ZERO=1 makes every call return 0,
// and FAKE_CLOSE_EIO=1 makes close fail with EIO, as a file system may report
// there what it could not store. FAKE_WRITE_DATAGRAM=D:N fails every write of
// more than N bytes to descriptor D with EMSGSIZE, as a datagram socket does.
// FAKE_POLL_EINTR=1 fails every other poll with EINTR, as a signal caught by a
// handler would, which the program itself never installs.
// Where FAKE_EAGAIN_MARK=M names an open descriptor, the first write to
// standard output or error that a full non-blocking pipe refuses (EAGAIN)
// writes that descriptor's number, 1 or 2, to M: a reader can wait for it.
//
// Where FAKE_WRITES names a file, the process writes there at exit how many
// write calls it made to standard output and to standard error ("stdout N",
// "stderr N"); "repeated D N" where N writes to descriptor D were tried again
// at the very size that had just failed with EMSGSIZE; and "stdin open" or
// "stdin closed", as standard input was when the enumeration was opened.
//
// Record files hold one record a line, fields split by ':' and group members by
// ','. In a field, "\n" stands for a newline, "\\" for a backslash, and a field
// (or member list) that is exactly "\N" is absent.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

namespace {

void log_call(const char *name) {
    if (const char *path = std::getenv("FAKE_ACCOUNTS_CALLS")) {
        if (FILE *log = std::fopen(path, "a")) {
            std::fprintf(log, "%s\n", name);
            std::fclose(log);
        }
    }
}

// Splits on an unescaped separator, keeping escapes for unescape().
std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text.substr(i++, 2);
        } else if (text[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

std::string unescape(const std::string &text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            plain += text[++i] == 'n' ? '\n' : text[i];
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// Record texts and member lists live for the whole process, where a leak
// checker still sees them.
std::deque<std::string> texts;
std::deque<std::vector<char *>> member_lists;

char *field(const std::string &text) {
    if (text == "\\N") {
        return nullptr;
    }
    return texts.emplace_back(unescape(text)).data();
}

std::vector<std::vector<std::string>> read_records() {
    std::vector<std::vector<std::string>> records;
    const char *path = std::getenv("FAKE_ACCOUNTS_RECORDS");
    FILE *file = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (file == nullptr) {
        return records;
    }
    std::string line;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n') {
            records.push_back(split(line, ':'));
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    std::fclose(file);
    return records;
}

std::vector<group> groups() {
    std::vector<group> result;
    for (const auto &fields : read_records()) {
        group record{};
        record.gr_name = field(fields.at(0));
        record.gr_passwd = field(fields.at(1));
        record.gr_gid = static_cast<gid_t>(std::stoul(fields.at(2)));
        if (fields.at(3) != "\\N") {
            auto &members = member_lists.emplace_back();
            if (!fields.at(3).empty()) {
                for (const auto &member : split(fields.at(3), ',')) {
                    members.push_back(field(member));
                }
            }
            members.push_back(nullptr);
            record.gr_mem = members.data();
        }
        result.push_back(record);
    }
    return result;
}

std::vector<passwd> users() {
    std::vector<passwd> result;
    for (const auto &fields : read_records()) {
        passwd record{};
        record.pw_name = field(fields.at(0));
        record.pw_passwd = field(fields.at(1));
        record.pw_uid = static_cast<uid_t>(std::stoul(fields.at(2)));
        record.pw_gid = static_cast<gid_t>(std::stoul(fields.at(3)));
        record.pw_gecos = field(fields.at(4));
        record.pw_dir = field(fields.at(5));
        record.pw_shell = field(fields.at(6));
        result.push_back(record);
    }
    return result;
}

// Standard input as the enumeration found it opened: -1 before it was.
int stdin_at_open = -1;

// What the enumeration does when it is opened: notes standard input, then
// takes the descriptors a source would hold.
void open_enumeration() {
    if (stdin_at_open < 0) {
        stdin_at_open = fcntl(STDIN_FILENO, F_GETFD) != -1 ? 1 : 0;
    }
    static bool held = false;
    const char *path = std::getenv("FAKE_ACCOUNTS_HOLD");
    if (path != nullptr && !held) {
        held = true;
        int descriptor = -1;
        do {
            descriptor = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        } while (descriptor >= 0 && descriptor <= STDERR_FILENO);
    }
}

std::size_t setting(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::stoul(value) : 0;
}

// FAKE_WRITE_DATAGRAM=D:N
struct Datagram {
    int descriptor = -1;
    std::size_t size = 0;
};

Datagram datagram_setting() {
    Datagram datagram;
    const char *value = std::getenv("FAKE_WRITE_DATAGRAM");
    if (value != nullptr) {
        const std::string text = value;
        datagram.descriptor = std::stoi(text);
        datagram.size = std::stoul(text.substr(text.find(':') + 1));
    }
    return datagram;
}

// Write calls to standard output and error, and those tried again at the
// size that had just failed with EMSGSIZE.
struct WriteCount {
    unsigned long calls = 0;
    unsigned long repeated = 0;
    std::size_t failed_size = 0;
};
WriteCount write_counts[3];

[[gnu::destructor]] void log_writes() {
    const char *path = std::getenv("FAKE_WRITES");
    FILE *log = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "stdout %lu\nstderr %lu\n", write_counts[STDOUT_FILENO].calls, write_counts[STDERR_FILENO].calls);
    if (stdin_at_open >= 0) {
        std::fprintf(log, "stdin %s\n", stdin_at_open != 0 ? "open" : "closed");
    }
    for (const int descriptor : {STDOUT_FILENO, STDERR_FILENO}) {
        if (write_counts[descriptor].repeated > 0) {
            std::fprintf(log, "repeated %d %lu\n", descriptor, write_counts[descriptor].repeated);
        }
    }
    std::fclose(log);
}

// FAKE_EAGAIN_MARK: the first EAGAIN on each standard output.
void mark_full_pipe(int descriptor) {
    static bool marked[3] = {false, false, false};
    static const char *mark = std::getenv("FAKE_EAGAIN_MARK");
    if (mark == nullptr || marked[descriptor]) {
        return;
    }
    marked[descriptor] = true;
    const int saved = errno;
    const char number = static_cast<char>('0' + descriptor);
    syscall(SYS_write, std::atoi(mark), &number, 1);
    errno = saved;
}

std::size_t group_position = 0;
std::size_t user_position = 0;

} // namespace

extern "C" {

group *getgrent() {
    log_call("getgrent");
    static std::vector<group> records = groups();
    return group_position < records.size() ? &records[group_position++] : nullptr;
}

void setgrent() {
    log_call("setgrent");
    open_enumeration();
    group_position = 0;
}

void endgrent() {
    log_call("endgrent");
    group_position = 0;
}

passwd *getpwent() {
    log_call("getpwent");
    static std::vector<passwd> records = users();
    return user_position < records.size() ? &records[user_position++] : nullptr;
}

void setpwent() {
    log_call("setpwent");
    open_enumeration();
    user_position = 0;
}

void endpwent() {
    log_call("endpwent");
    user_position = 0;
}

ssize_t write(int descriptor, const void *bytes, size_t size) {
    const bool standard = descriptor == STDOUT_FILENO || descriptor == STDERR_FILENO;
    const size_t asked = size;
    if (standard) {
        auto &count = write_counts[descriptor];
        ++count.calls;
        if (size == count.failed_size) {
            ++count.repeated;
        }
        count.failed_size = 0;
    }
    if (descriptor == STDOUT_FILENO) {
        static const std::size_t max = setting("FAKE_WRITE_MAX");
        static const bool interrupt = setting("FAKE_WRITE_EINTR") != 0;
        static const bool take_nothing = setting("FAKE_WRITE_ZERO") != 0;
        static unsigned long calls = 0;
        if (interrupt && calls++ % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        if (take_nothing) {
            return 0;
        }
        if (max > 0 && size > max) {
            size = max;
        }
    }
    static const Datagram datagram = datagram_setting();
    ssize_t result = -1;
    if (descriptor == datagram.descriptor && size > datagram.size) {
        errno = EMSGSIZE;
    } else {
        result = syscall(SYS_write, descriptor, bytes, size);
    }
    if (standard && result < 0 && errno == EMSGSIZE) {
        write_counts[descriptor].failed_size = asked;
    }
    if (standard && result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        mark_full_pipe(descriptor);
    }
    return result;
}

int close(int descriptor) {
    static const bool fail = setting("FAKE_CLOSE_EIO") != 0;
    const long result = syscall(SYS_close, descriptor);
    if (fail && descriptor == STDOUT_FILENO && result == 0) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(result);
}

// The program's own wait for a descriptor to take more: through ppoll, which
// it never calls, so that this stands in for poll alone.
int poll(pollfd *descriptors, nfds_t count, int timeout) {
    static const bool interrupt = setting("FAKE_POLL_EINTR") != 0;
    static unsigned long calls = 0;
    if (interrupt && calls++ % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    timespec limit{timeout / 1000, (timeout % 1000) * 1000000L};
    return ppoll(descriptors, count, timeout < 0 ? nullptr : &limit, nullptr);
}
}

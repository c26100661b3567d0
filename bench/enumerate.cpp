// The floor for the benchmark: fetches every record of the passwd or group
// database, as the listers do (opening the enumeration first, which a first
// source that does not open itself lazily needs), and writes nothing. What a
// lister costs beyond this is the cost of its own output. The tests use it
// too, to ask whether the enumeration finds any record where it runs.
#include <grp.h>
#include <pwd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    if (argc != 2 || (std::strcmp(argv[1], "passwd") != 0 && std::strcmp(argv[1], "group") != 0)) {
        std::fprintf(stderr, "usage: enumerate passwd|group\n");
        return 2;
    }
    unsigned long records = 0;
    if (std::strcmp(argv[1], "passwd") == 0) {
        setpwent();
        while (getpwent() != nullptr) {
            ++records;
        }
        endpwent();
    } else {
        setgrent();
        while (getgrent() != nullptr) {
            ++records;
        }
        endgrent();
    }
    return records > 0 ? 0 : 1;
}

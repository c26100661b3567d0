// An mbrtowc that takes every sequence of bytes for the beginning of a longer
// character, as no converter of the C library does, loaded with LD_PRELOAD: a
// walk over a character set's characters that trusts it to end one must
// stop by its own bounds, and within its buffer.
#include <cwchar>

extern "C" std::size_t mbrtowc(wchar_t * /*character*/, const char * /*bytes*/, std::size_t /*size*/,
                               std::mbstate_t * /*state*/) noexcept {
    return static_cast<std::size_t>(-2);
}

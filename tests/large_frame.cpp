// A frame of a megabyte, built with the programs' flags, for the binary test:
// with stack-clash protection the compiler grows such a frame a page at a
// time and touches each page, in a loop; without it, in one step that could
// jump over the guard page below the stack. The programs' own frames are too
// small for the compiler to probe, so this shows what the flags do.
[[gnu::noinline]] int first(volatile char *bytes) { return bytes[0]; }

int main() {
    constexpr int size = 1 << 20;
    volatile char frame[size];
    frame[0] = 1;
    return first(frame);
}

// A process that installs the crash handler and then crashes the way its
// first argument says: "overflow" (a stack overflow from deep recursion) or
// "segv" (a write through a null pointer). Run by tst_crashhandler.

#include "app/crashhandler.h"

#include <cstring>

namespace {

// Not a tail call and not provably endless, so the compiler keeps every frame.
int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    if (depth < 0)
        return 0;
    return recurse(depth + 1) + frame[0];
}

// A real fault, not the sanitizer's report of one: the sanitizer build would
// end the process before the signal, and the signal's handler is under test.
__attribute__((no_sanitize("undefined"))) void writeThroughNull()
{
    volatile int *nowhere = nullptr;
    *nowhere = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    installCrashHandler();
    if (argc > 1 && std::strcmp(argv[1], "overflow") == 0)
        return recurse(argc);
    if (argc > 1 && std::strcmp(argv[1], "segv") == 0)
        writeThroughNull();
    return 3;
}

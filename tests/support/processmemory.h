#pragma once

#include <QtGlobal>

namespace TestSupport {

// Resident memory of this process in KiB (VmRSS), 0 when unreadable.
qint64 residentKiB();
// Threads of this process, 0 when unreadable.
int threadCount();

// False in an AddressSanitizer build: it keeps freed memory in quarantine
// and poisons it, so resident memory there says nothing about leaks or
// growth. Checks of memory growth are only meaningful when this is true.
constexpr bool residentMemoryIsMeaningful()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

} // namespace TestSupport

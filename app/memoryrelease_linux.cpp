#include "app/memoryrelease.h"

#include <malloc.h>

void MemoryRelease::releaseFreed()
{
    // Trims the top of every arena and gives back the free pages inside
    // them (glibc), not only the main heap's tail.
    malloc_trim(0);
}

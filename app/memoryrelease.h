#pragma once

// Hands memory the process has freed back to the system. A stream that
// ends frees its decoder and picture buffers on library threads; without
// this the allocator keeps them, and every control window opened and closed
// would leave the client larger than before.
namespace MemoryRelease {
void releaseFreed();
}

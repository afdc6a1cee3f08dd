#pragma once

#include <functional>

namespace TestSupport {

// Runs the event loop until condition holds or the time is up; the answer
// is the condition's last. It is asked every 50 ms, as it often asks the
// cloud's admin API.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

} // namespace TestSupport

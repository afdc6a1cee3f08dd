#pragma once

// The process-wide side of the library: its log and the list of streams.
class SWRuntime final
{
public:
    static SWRuntime *getInstance();

    // Log level 0 none, 1 errors, 2 warnings, 3 information, 4 debug; the log
    // goes to "<logDir>/swplay-<yyyy-MM-dd>.txt". Safe to call repeatedly.
    int init(int logLevel, const char *logDir);
    // Ends every stream of the process, quietly (no notifications).
    void deinit();

    // Timeouts for streams started afterwards. Zero or less keeps a value.
    void setTimeouts(int connectMs, int helloMs, int silenceMs, int retryDelayMs);

private:
    SWRuntime() = default;
};

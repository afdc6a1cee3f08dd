#pragma once

// Installs the process's last-chance handler: a fatal crash writes
// DumpFile-YYYYMMDD-HHMMSS.dmp into the working directory and ends the
// process; under a debugger nothing is written and the debugger sees it.
void installCrashHandler();

// The report's file name for a given local time, e.g. DumpFile-20240131-235959.dmp.
// Exposed for tests.
const char *crashDumpFileName(int year, int month, int day, int hour, int minute, int second, char *buffer,
                              int bufferSize);

#pragma once

#include <string>

// The library's own log file. Levels: 1 error, 2 warning, 3 info, 4 debug.
namespace swlog {

void open(int level, const std::string &dir);
void close();
void write(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Keeps the first and last two characters of a secret.
std::string mask(const std::string &secret);

} // namespace swlog

// Console messages. Every message of the tools goes to standard output, as the
// translator's scripts and the tests read it there.
#pragma once

#include <string_view>

namespace fpskit {

void Print(std::string_view text);
// Formats are checked as C99 ones (%zu included): on MinGW the C++ library
// prints through its own C99 printf, not through the older one of the system's
// runtime that a plain `printf` check would assume there.
[[gnu::format(gnu_printf, 1, 2)]] void Printf(const char* format, ...);

}  // namespace fpskit

// Console messages. Every message of the tools goes to standard output, as the
// translator's scripts and the tests read it there.
#pragma once

#include <string_view>

namespace fpskit {

void Print(std::string_view text);
[[gnu::format(printf, 1, 2)]] void Printf(const char* format, ...);

// A notice that is not part of a tool's console text (a warning about a
// dump): written to standard error, after what standard output holds so far,
// so standard output stays exactly as the tools print it.
[[gnu::format(printf, 1, 2)]] void Warnf(const char* format, ...);

}  // namespace fpskit

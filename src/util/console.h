// Console messages. Every message of the tools goes to standard output, as the
// translator's scripts and the tests read it there.
#pragma once

#include <string_view>

namespace fpskit {

void Print(std::string_view text);
[[gnu::format(printf, 1, 2)]] void Printf(const char* format, ...);

// One line on standard error: the text, then a line feed. For notices that
// are not part of a tool's console text, so standard output stays exact.
[[gnu::format(printf, 1, 2)]] void Warnf(const char* format, ...);

}  // namespace fpskit

// Console messages. Every message of the tools goes to standard output, as the
// translator's scripts and the tests read it there.
#pragma once

#include <string_view>

namespace fpskit {

void Print(std::string_view text);
[[gnu::format(printf, 1, 2)]] void Printf(const char* format, ...);

}  // namespace fpskit

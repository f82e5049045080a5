// Console messages, handed to the reporter of the calling thread
// (util/reporter.h). The tools' own messages (errors, progress) go to standard
// output, where the translators' scripts read them. Notices and warnings that
// only help the translator (a code table that fell back to the built-in one, a
// character no row converts) go to standard error, one whole line each, so
// that standard output stays exactly as the scripts expect it.
#pragma once

#include "util/tools_only.h"

#include <string_view>

namespace fpskit {

// The formats of Printf and Warnf are checked as C99 ones (%zu included): on
// MinGW the C++ library prints through its own C99 printf, not through the
// older one of the system's runtime that a plain `printf` check assumes there.
// Clang (the fuzz build) knows no gnu_printf and checks plain printf as C99.
#if defined(__clang__)
#define FPSKIT_PRINTF_FORMAT [[gnu::format(printf, 1, 2)]]
#else
#define FPSKIT_PRINTF_FORMAT [[gnu::format(gnu_printf, 1, 2)]]
#endif

void Print(std::string_view text);
FPSKIT_PRINTF_FORMAT void Printf(const char* format, ...);

// One line on standard error: the text, then a line feed.
void Warn(std::string_view text);
FPSKIT_PRINTF_FORMAT void Warnf(const char* format, ...);

}  // namespace fpskit

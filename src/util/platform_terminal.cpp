// The terminal side of the platform layer (util/platform.h): whether standard
// error is a console that a progress line may be drawn on.
#include <cstdio>

#include "util/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#else
#include <unistd.h>
#endif

namespace fpskit::platform {

#ifdef _WIN32

bool StderrIsTerminal() {
  if (!_isatty(_fileno(stderr))) return false;
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  // The progress line is cleared with cursor sequences, which older consoles
  // print as text: without them no progress is shown.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

#else

bool StderrIsTerminal() { return isatty(fileno(stderr)) == 1; }

#endif

}  // namespace fpskit::platform

#include "util/console.h"

#include <cstdarg>
#include <cstdio>

namespace fpskit {

void Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

void Warn(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

void Warnf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // namespace fpskit

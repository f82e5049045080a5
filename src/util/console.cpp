#include "util/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "util/reporter.h"

namespace fpskit {
namespace {

// The formatted text, whatever its length.
std::string Format(const char* format, va_list args) {
  char small[512];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (length < 0) {
    va_end(again);
    return text;
  }
  if (size_t(length) < sizeof small) {
    text.assign(small, size_t(length));
  } else {
    text.resize(size_t(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(size_t(length));
  }
  va_end(again);
  return text;
}

}  // namespace

void Print(std::string_view text) { CurrentReporter().Output(text); }

void Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  CurrentReporter().Output(text);
}

void Warn(std::string_view text) { CurrentReporter().Notice(text); }

void Warnf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  CurrentReporter().Notice(text);
}

}  // namespace fpskit

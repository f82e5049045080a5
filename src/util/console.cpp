#include "util/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "util/platform.h"

namespace fpskit {

namespace {

// A console window gets the text in its own characters (paths show right
// whatever its code page); a file or a pipe gets the bytes as they are.
void Emit(std::FILE* stream, std::string_view text) {
  if (!platform::WriteToConsole(stream, text)) std::fwrite(text.data(), 1, text.size(), stream);
}

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::string text(size_t(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(size_t(length));
  return text;
}

}  // namespace

void Print(std::string_view text) { Emit(stdout, text); }

void Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  Emit(stdout, text);
}

void Warn(std::string_view text) { Emit(stderr, std::string(text) + "\n"); }

void Warnf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  Emit(stderr, text + "\n");
}

}  // namespace fpskit

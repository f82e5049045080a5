#include "util/paths.h"

namespace fpskit {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

size_t LastSeparator(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string StripExtension(std::string_view path) {
  const size_t sep = LastSeparator(path);
  const size_t nameStart = sep == std::string_view::npos ? 0 : sep + 1;
  const size_t dot = path.rfind('.');
  // A '.' that opens the file name ('.cfg') starts a name, not an extension:
  // stripping it would leave an empty name, so that the dump became '.txt'
  // and the unpack directory the archive's own directory.
  if (dot == std::string_view::npos || dot <= nameStart) return std::string(path) + "_";
  return std::string(path.substr(0, dot));
}

std::string FileNameOf(std::string_view path) {
  const size_t sep = LastSeparator(path);
  return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string DirectoryOf(std::string_view path) {
  const size_t sep = LastSeparator(path);
  return std::string(sep == std::string_view::npos ? std::string_view() : path.substr(0, sep));
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  if (directory.empty()) return std::string(name);
  std::string joined(directory);
  if (!IsSeparator(joined.back())) joined += '/';
  joined += name;
  return joined;
}

bool IsContainedRelativePath(std::string_view name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // drive letter
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace fpskit

// A temporary directory for one test, removed with everything in it at the
// end; and a guard that runs a test inside a directory (the text tools look
// for their code tables in the current directory).
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "util/bytes.h"

namespace fpskit::support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~ScopedCurrentDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// Removes a directory and everything in it, at any depth (on Windows also
// below 260 characters).
void RemoveTree(const std::string& path);

// Writes bytes to a file, replacing it; for setting up test inputs.
bool WriteTestFile(const std::string& path, ByteSpan bytes);
bool WriteTestFile(const std::string& path, const std::string& text);
// Reads a whole file for comparisons; empty when missing.
Bytes ReadTestFile(const std::string& path);
// The names in a directory (not recursive), sorted.
std::vector<std::string> ListDirectory(const std::string& path);
// Every file and directory below `path`, as paths relative to it (directories
// end in '/'), sorted.
std::vector<std::string> ListTree(const std::string& path);
// Every file and directory below `root` by relative path ('/' separators):
// a file's contents, or "<dir>" for a directory. Two snapshots are equal
// when nothing below the root was created, removed or changed.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::string& root);

}  // namespace fpskit::support

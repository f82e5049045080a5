#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>

#include "support/builders.h"
#include "util/files.h"

namespace fpskit::support {

bool WriteTestFile(const std::string& path, ByteSpan bytes) {
  FileHandle file = OpenFile(path, "wb");
  return file && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size());
}

bool WriteTestFile(const std::string& path, const std::string& text) {
  return WriteTestFile(path, ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

Bytes ReadTestFile(const std::string& path) {
  Bytes bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(path, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListTree(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
    std::string name = std::filesystem::relative(entry.path(), path, ignored).generic_string();
    names.push_back(entry.is_directory() ? name + "/" : name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TreeSnapshot SnapshotTree(const std::string& root) {
  TreeSnapshot snapshot;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string relative = std::filesystem::relative(it->path(), root, error).generic_string();
    snapshot[relative] = it->is_directory() ? "<dir>" : ToString(ReadTestFile(it->path().string()));
  }
  return snapshot;
}

}  // namespace fpskit::support

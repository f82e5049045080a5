#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "support/builders.h"
#include "util/files.h"

namespace fpskit::support {

// A new directory under the system's temporary directory, with a random name
// so that test programs running side by side never share one.
TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "fpskit-test-%012llx", static_cast<unsigned long long>(random() >> 16));
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) path_ = (base / name).string();
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ignored);
  std::filesystem::remove_all(path_, ignored);
}

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

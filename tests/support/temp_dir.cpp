#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

#include "support/builders.h"
#include "util/files.h"
#include "util/platform.h"

namespace fpskit::support {

namespace {

// Visits everything below `root` (paths relative to it, '/' between parts),
// each directory before what it holds. On Windows through the program's own
// listing, which reaches below 260 characters where the C++ library's does
// not.
void WalkTree(const std::string& root, const std::function<void(const std::string&, bool)>& visit) {
#ifdef _WIN32
  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    const std::string relative = pending.back();
    pending.pop_back();
    std::vector<platform::DirectoryItem> items;
    platform::ListDirectory(relative.empty() ? root : root + "/" + relative, items);
    for (const platform::DirectoryItem& item : items) {
      const std::string child = relative.empty() ? item.name : relative + "/" + item.name;
      visit(child, item.directory);
      if (item.directory) pending.push_back(child);
    }
  }
#else
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    visit(it->path().lexically_relative(root).generic_string(), it->is_directory());
  }
#endif
}

}  // namespace

void RemoveTree(const std::string& path) {
#ifdef _WIN32
  std::vector<std::string> directories;
  WalkTree(path, [&](const std::string& relative, bool directory) {
    if (directory) {
      directories.push_back(path + "/" + relative);
    } else {
      RemoveFile(path + "/" + relative);
    }
  });
  // Deeper ones first.
  std::sort(directories.begin(), directories.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& directory : directories) RemoveEmptyDirectory(directory);
  RemoveEmptyDirectory(path);
#else
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
#endif
}

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
  RemoveTree(path_);
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
  WalkTree(path, [&](const std::string& name, bool directory) { names.push_back(directory ? name + "/" : name); });
  std::sort(names.begin(), names.end());
  return names;
}

TreeSnapshot SnapshotTree(const std::string& root) {
  TreeSnapshot snapshot;
  WalkTree(root, [&](const std::string& relative, bool directory) {
    snapshot[relative] = directory ? "<dir>" : ToString(ReadTestFile(root + "/" + relative));
  });
  return snapshot;
}

}  // namespace fpskit::support

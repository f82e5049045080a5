// "unfps" on arbitrary bytes, in a directory of its own: the archive (bare,
// in a TLZC container, nested to any depth, with texture pairs) is unpacked,
// and afterwards nothing may exist outside its unpack directory but the
// archive itself, unchanged, whatever names its entries and textures hold.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_check.h"
#include "quiet_console.h"
#include "support/temp_dir.h"
#include "tools/archive/archive_tools.h"
#include "util/files.h"

namespace {

namespace fs = std::filesystem;

// Three levels down, so that a name climbing out with '..' still lands inside
// the directory the target checks.
constexpr const char* kArchiveDirectory = "one/two/three";

bool InsideUnpackDirectory(const std::string& relative) {
  const std::string unpackDirectory = std::string(kArchiveDirectory) + "/archive";
  return relative == unpackDirectory || relative.rfind(unpackDirectory + "/", 0) == 0;
}

bool IsArchivePathOrParent(const std::string& relative) {
  return relative == "one" || relative == "one/two" || relative == kArchiveDirectory ||
         relative == std::string(kArchiveDirectory) + "/archive.dat";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fpskit::fuzz::QuietConsole quiet;
  using namespace fpskit;
  static const support::TempDir root;
  const std::string directory = root / kArchiveDirectory;
  const std::string archive = directory + "/archive.dat";
  support::RemoveTree(root / "one");
  fs::create_directories(directory);
  FUZZ_CHECK(support::WriteTestFile(archive, ByteSpan(data, size)));

  UnpackArchive(archive);

  for (const std::string& listed : support::ListTree(root.path())) {
    const std::string relative = listed.back() == '/' ? listed.substr(0, listed.size() - 1) : listed;
    FUZZ_CHECK(InsideUnpackDirectory(relative) || IsArchivePathOrParent(relative));
  }
  Bytes after;
  FUZZ_CHECK(ReadWholeFile(archive, after) && after == Bytes(data, data + size));
  return 0;
}

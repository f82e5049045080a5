// "fps" on arbitrary bytes, in a directory of its own, after "unfps": a
// repack that fails leaves the archive byte for byte as it was; a repack
// from the unchanged unpack directory of an archive that unpacked cleanly
// gives an archive that unpacks to the same files. Nothing but the archive
// and its unpack directory is left either way.
#include <cstdint>
#include <filesystem>
#include <string>

#include "archive/format.h"
#include "fuzz_check.h"
#include "support/temp_dir.h"
#include "util/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  namespace fs = std::filesystem;
  static const support::TempDir root;
  const std::string directory = root / "work";
  const std::string archive = directory + "/archive.dat";
  const std::string unpackDirectory = directory + "/archive";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  const Bytes input(data, data + size);
  FUZZ_CHECK(support::WriteTestFile(archive, input));

  const bool unpacked = UnpackArchive(archive);
  const support::TreeSnapshot members = support::SnapshotTree(unpackDirectory);
  const bool repacked = RepackArchive(archive);
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(name == "archive.dat" || name == "archive");
  }
  FUZZ_CHECK(support::SnapshotTree(unpackDirectory) == members);
  if (!repacked) {
    Bytes after;
    FUZZ_CHECK(ReadWholeFile(archive, after) && after == input);
    return 0;
  }
  if (!unpacked) return 0;
  fs::remove_all(unpackDirectory, ignored);
  FUZZ_CHECK(UnpackArchive(archive));
  FUZZ_CHECK(support::SnapshotTree(unpackDirectory) == members);
  return 0;
}

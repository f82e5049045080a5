// "fps" on arbitrary bytes, in a directory of its own, after "unfps": a
// repack that fails leaves the archive byte for byte as it was; a repack
// from the unchanged unpack directory of an archive that unpacked cleanly
// gives an archive that unpacks to the same files. Nothing but the archive
// and its unpack directory is left either way.
//
// One allowance: the content test reads the bytes at a member's offset
// whatever its size, so a member shorter than those bytes is named from what
// follows it, and the rebuilt archive pads it with zeros; such a member may
// come back under another extension, with the same bytes. And the repacker
// keeps only the bytes before dataStart of what belongs to no member and
// rewrites the entry table, so an archive whose type string or name strings
// lie after dataStart or inside the table is only checked for the rest.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "archive/format.h"
#include "compress/tlzc.h"
#include "fuzz_check.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/paths.h"

namespace {

fpskit::support::TreeSnapshot Members(const std::string& unpackDirectory) {
  fpskit::support::TreeSnapshot members;
  for (auto& [path, contents] : fpskit::support::SnapshotTree(unpackDirectory)) {
    const bool shorterThanItsHead = contents != "<dir>" && contents.size() < fpskit::kMemberHeadSize;
    members[shorterThanItsHead ? fpskit::StripExtension(path) + " (short)" : path] = contents;
  }
  return members;
}

// True when the type string and every name string of a 16-byte table lie
// where the repacker keeps them as they are: after the entry table (which it
// rewrites) and before dataStart.
bool StringsKept(fpskit::ByteSpan archive) {
  using fpskit::LoadU16BE;
  using fpskit::LoadU32BE;
  if (archive.size() < fpskit::kArchiveHeaderSize) return false;
  const uint64_t dataStart = std::min<uint64_t>(LoadU32BE(archive.data() + 12), archive.size());
  const uint64_t entries = LoadU32BE(archive.data() + 4);
  const uint16_t entrySize = LoadU16BE(archive.data() + 16);
  const uint64_t tableEnd = fpskit::kArchiveTableOffset + entries * entrySize;
  auto kept = [&](uint64_t offset, uint64_t length) { return offset >= tableEnd && offset + length <= dataStart; };
  const uint32_t typeOffset = LoadU32BE(archive.data() + 24);
  if (typeOffset != 0 && !kept(typeOffset, 4)) return false;
  if (entrySize != 16) return true;
  for (uint64_t i = 0; i + 1 < entries && tableEnd <= dataStart; ++i) {
    const uint32_t pointer = LoadU32BE(archive.data() + 28 + 16 * i + 12);
    if (pointer == 0) continue;
    if (!kept(pointer, 1)) return false;
    const auto end = archive.begin() + ptrdiff_t(dataStart);
    if (std::find(archive.begin() + pointer, end, 0) == end) return false;
  }
  return true;
}

}  // namespace

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
  const support::TreeSnapshot unpackedMembers = Members(unpackDirectory);
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
  Bytes wrapped;
  if (HasMagic(input, kTlzcMagic) && (!DecompressTlzc(input, wrapped).ok() || !StringsKept(wrapped))) return 0;
  if (HasMagic(input, kArchiveMagic) && !StringsKept(input)) return 0;
  fs::remove_all(unpackDirectory, ignored);
  FUZZ_CHECK(UnpackArchive(archive));
  FUZZ_CHECK(Members(unpackDirectory) == unpackedMembers);
  return 0;
}

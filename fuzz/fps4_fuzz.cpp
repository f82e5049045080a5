// FPS4 archive tables on arbitrary bytes: the header, the table, the sizes of
// 8-byte tables, the names of 16-byte tables and the strings are read from
// the bytes in memory and from the same bytes in a file, which must give the
// same table; then every member is named and its content tested as the
// unpacker and the repacker do it. The content test may change only the
// extension of a member's name.
#include <cstdint>
#include <cstdio>

#include "archive/format.h"
#include "archive/plan.h"
#include "fuzz_check.h"
#include "util/files.h"
#include "util/paths.h"

namespace {

using namespace fpskit;

bool SameTable(const ArchiveTable& a, const ArchiveTable& b) {
  if (a.typeString != b.typeString || a.length != b.length || a.entries.size() != b.entries.size()) return false;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const ArchiveEntry& x = a.entries[i];
    const ArchiveEntry& y = b.entries[i];
    if (x.offset != y.offset || x.paddedSize != y.paddedSize || x.size != y.size || x.name != y.name) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteSpan bytes(data, size);
  if (!HasMagic(bytes, kArchiveMagic)) return 0;
  const ByteSource inMemory = ByteSource::InMemory(bytes);
  ArchiveTable table;
  const ArchiveFailure failure = ParseArchiveTable(inMemory, "base", table);

  FileHandle file(std::tmpfile());
  FUZZ_CHECK(file && std::fwrite(data, 1, size, file.get()) == size && std::fflush(file.get()) == 0);
  ArchiveTable fromFile;
  const ArchiveFailure fileFailure = ParseArchiveTable(ByteSource::InFile(file.get(), 0, size), "base", fromFile);
  FUZZ_CHECK(fileFailure.error == failure.error && fileFailure.offset == failure.offset);
  if (!failure.ok()) return 0;
  FUZZ_CHECK(SameTable(table, fromFile));

  for (size_t i = 0; i < table.entries.size(); ++i) {
    if (IsSkippedEntry(table, i)) continue;
    const ArchiveEntry& entry = table.entries[i];
    std::string fileName = MemberFileName(table, "base", i);
    const std::string named = fileName;
    NameMember("dir", table, "base", i);
    const MemberHead head = PeekMemberHead(inMemory, entry);
    const bool marked = SniffMember(head, table, i, fileName);
    FUZZ_CHECK(StripExtension(fileName) == StripExtension(named));
    IsCompressedMember(head, entry);
    if (marked || IsTextureArchive(table)) {
      const TexturePairing pairing = PairTexture(table, i);
      FUZZ_CHECK(pairing == TexturePairing::kPlain || i + (pairing == TexturePairing::kPair ? 1 : 2) < table.entries.size());
    }
  }

  // The member plan: one per entry; a usable path leaves no directory and
  // stays usable on every system.
  ArchivePlan plan;
  PlanArchive(inMemory, table, "dir/base", plan);
  FUZZ_CHECK(plan.members.size() == table.entries.size());
  for (const MemberPlan& member : plan.members) {
    if (member.check != PathCheck::kUsable || member.role == MemberRole::kNone) continue;
    FUZZ_CHECK(member.role == MemberRole::kDamaged || member.role == MemberRole::kPairData ||
               member.role == MemberRole::kTexturePair ||
               (IsContainedRelativePath(member.fileName) && IsPortablePath(member.fileName)));
    if (member.role == MemberRole::kTexturePair) FUZZ_CHECK(member.dataIndex < plan.members.size());
  }
  return 0;
}

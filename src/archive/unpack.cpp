// "unfps": an archive into a directory of member files.
//
// The archive is read through bounded reads of its file: the header, the
// table and the strings, a few bytes of every member for naming, and the
// members themselves in kernel-side copies into their files. A member is
// loaded whole only when it must be decompressed or its TXM read; a nested
// archive is unpacked straight from its parent's bytes.
#include <cstring>

#include "archive/format.h"
#include "compress/tlzc.h"
#include "texture/dds.h"
#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/reporter.h"

namespace fpskit {
namespace {

enum class UnpackResult {
  kDone,
  kFailed,    // something was reported; what could be written is written
  kRejected,  // the header, the table or the directory was reported before anything was written
};

// Where a member would be unpacked as an archive of its own. A member that
// overlaps another member of the same archive already unpacked as an archive
// is kept as a file (see MembersOverlap): its bytes are all there.
struct Nesting {
  size_t depth = 0;     // below the archive the run began with
  bool mayNest = true;  // false: the member overlaps a nested archive unpacked before it
  bool nested = false;  // set when the member was unpacked as an archive
};

UnpackResult UnpackFromSource(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                              size_t depth);

bool IsContainedName(const std::string& unpackDirectory, const std::string& fileName) {
  if (IsContainedRelativePath(fileName)) return true;
  Printf("\nERROR: the member name %s would leave %s; not written", fileName.c_str(), unpackDirectory.c_str());
  return false;
}

// Writes the bytes as the member's file and prints its path.
bool WriteMemberFile(const ByteSource& bytes, const std::string& unpackDirectory, const std::string& fileName) {
  if (!IsContainedName(unpackDirectory, fileName)) return false;
  Printf("\n%s", JoinPath(unpackDirectory, fileName).c_str());
  return WriteFileBelow(unpackDirectory, fileName,
                        [&](std::FILE* file) { return bytes.CopyTo(0, bytes.length, file); });
}

// A nested archive, at `depth` below the archive the run began with, goes
// into the directory named by its member path without the extension (the
// directories of a name with subdirectories are made first). When its own
// header or table is rejected, its directory cannot be made, it lies too
// deep or it overlaps an archive unpacked before it, its bytes are kept as
// the member's file, so that nothing of it is lost.
bool UnpackNested(const ByteSource& nested, const ByteSource& memberBytes, const std::string& unpackDirectory,
                  const std::string& fileName, Nesting& nesting) {
  const size_t depth = nesting.depth;
  const std::string directoryName = StripExtension(fileName);
  if (!IsContainedName(unpackDirectory, fileName) || !IsContainedName(unpackDirectory, directoryName)) return false;
  const std::string path = JoinPath(unpackDirectory, fileName);
  if (depth > kMaxNestingDepth) {
    Printf("\nERROR: %s: archives nested more than %zu deep; kept as a file", path.c_str(), kMaxNestingDepth);
    WriteMemberFile(memberBytes, unpackDirectory, fileName);
    return false;
  }
  if (!nesting.mayNest) {
    Warnf("NOTE: %s overlaps an archive unpacked before it; kept as a file", path.c_str());
    return WriteMemberFile(memberBytes, unpackDirectory, fileName);
  }
  nesting.nested = true;
  // A failure here shows when the directory itself cannot be made.
  MakeParentDirectories(unpackDirectory, directoryName);
  const UnpackResult result = UnpackFromSource(nested, path, JoinPath(unpackDirectory, directoryName), depth);
  if (result == UnpackResult::kRejected) WriteMemberFile(memberBytes, unpackDirectory, fileName);
  return result == UnpackResult::kDone;
}

// The member's data as a file, or as a directory when it is an archive
// itself, bare or in a TLZC container.
bool OutputMember(const ByteSource& data, const std::string& unpackDirectory, const std::string& fileName,
                  Nesting& nesting) {
  uint8_t magic[4];
  data.Peek(0, magic, sizeof magic);
  if (data.length >= 4 && std::memcmp(magic, kArchiveMagic, 4) == 0) {
    return UnpackNested(data, data, unpackDirectory, fileName, nesting);
  }
  if (data.length >= 4 && std::memcmp(magic, kTlzcMagic, 4) == 0) {
    Bytes container;
    Bytes inner;
    if (!data.Read(0, data.length, container)) {
      Printf("\nERROR: can't read %s", JoinPath(unpackDirectory, fileName).c_str());
      return false;
    }
    const bool complete = DecompressTlzc(container, inner);
    container = Bytes();
    if (HasMagic(inner, kArchiveMagic)) {
      return UnpackNested(ByteSource::InMemory(inner), data, unpackDirectory, fileName, nesting) && complete;
    }
    return WriteMemberFile(data, unpackDirectory, fileName) && complete;
  }
  return WriteMemberFile(data, unpackDirectory, fileName);
}

// Decompresses a member stored in a TLZC container. When the container fails,
// the member's file holds what was recovered, and the failure counts.
bool OutputCompressedMember(const ByteSource& member, const std::string& unpackDirectory,
                            const std::string& fileName, Nesting& nesting) {
  Bytes container;
  if (!member.Read(0, member.length, container)) {
    Printf("\nERROR: can't read %s", JoinPath(unpackDirectory, fileName).c_str());
    return false;
  }
  Bytes data;
  const bool complete = DecompressTlzc(container, data);
  container = Bytes();
  if (!complete) {
    WriteMemberFile(ByteSource::InMemory(data), unpackDirectory, fileName);
    return false;
  }
  return OutputMember(ByteSource::InMemory(data), unpackDirectory, fileName, nesting);
}

bool MemberInside(const ByteSource& archive, const ArchiveEntry& entry, const std::string& label, size_t i) {
  if (InRange(archive.length, entry.offset, entry.size)) return true;
  Printf("\nERROR: %s: member %zu (0x%X bytes at 0x%X) lies outside the archive", label.c_str(), i, entry.size,
         entry.offset);
  return false;
}

bool Overlaps(const std::vector<ArchiveEntry>& members, const ArchiveEntry& entry) {
  for (const ArchiveEntry& member : members) {
    if (MembersOverlap(member, entry)) return true;
  }
  return false;
}

UnpackResult UnpackFromSource(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                              size_t depth) {
  const std::string baseName = FileNameOf(unpackDirectory);
  ArchiveTable table;
  if (!ReadArchiveTable(archive, baseName, label, table)) return UnpackResult::kRejected;
  if (table.entries.empty()) return UnpackResult::kDone;
  if (!MakeDirectory(unpackDirectory)) {
    Printf("\nERROR: can't create the directory %s", unpackDirectory.c_str());
    return UnpackResult::kRejected;
  }

  const std::vector<bool> shared = FindSharedMemberPaths(archive, table, baseName);
  std::vector<ArchiveEntry> nestedMembers;  // the members unpacked as archives, for Nesting::mayNest
  // Names member k and peeks at its first bytes; false, reported, when it
  // cannot be written.
  auto prepare = [&](size_t k, std::string& fileName, uint8_t* head, bool& marked) {
    const ArchiveEntry& entry = table.entries[k];
    fileName = MemberFileName(table, baseName, k);
    if (fileName.empty()) {
      Printf("\nERROR: %s: member %zu has an empty member name; not written", label.c_str(), k);
      return false;
    }
    archive.Peek(entry.offset, head, kMemberHeadSize);
    marked = SniffMember(head, table, k, fileName);
    return MemberInside(archive, entry, label, k);
  };
  // Member k as a file, decompressed when it is compressed, or as a directory.
  auto outputPlain = [&](size_t k, const std::string& fileName, const uint8_t* head) {
    // Two members under one path would leave one file for both.
    if (shared[k]) {
      Printf("\nERROR: %s: member %zu shares the path %s with another member; not written", label.c_str(), k,
             JoinPath(unpackDirectory, fileName).c_str());
      return false;
    }
    const ArchiveEntry& entry = table.entries[k];
    const ByteSource member = archive.Sub(entry.offset, entry.size);
    Nesting nesting{depth + 1, !Overlaps(nestedMembers, entry)};
    const bool written = IsCompressedMember(head, entry)
                             ? OutputCompressedMember(member, unpackDirectory, fileName, nesting)
                             : OutputMember(member, unpackDirectory, fileName, nesting);
    if (nesting.nested) nestedMembers.push_back(entry);
    return written;
  };

  bool ok = true;
  ProgressMeter progress("unfps", table.entries.size(), "members", depth == 0);
  for (size_t i = 0; i < table.entries.size(); ++i) {
    progress.SetDone(i);
    if (IsSkippedEntry(table, i)) continue;
    if (IsDamagedEntry(table, i)) {  // reported with the table
      ok = false;
      continue;
    }
    const ArchiveEntry& entry = table.entries[i];
    std::string fileName;
    uint8_t head[kMemberHeadSize];
    bool marked = false;
    if (!prepare(i, fileName, head, marked)) {
      ok = false;
      continue;
    }
    // A compressed member is written decompressed, whatever its mark says.
    const TexturePairing pairing = MemberPairing(table, i, marked, IsCompressedMember(head, entry));
    if (pairing == TexturePairing::kPlain) {
      ok = outputPlain(i, fileName, head) && ok;
      continue;
    }
    const ByteSource member = archive.Sub(entry.offset, entry.size);
    const size_t dataIndex = pairing == TexturePairing::kPairAfterSpv ? i + 2 : i + 1;
    const ArchiveEntry& data = table.entries[dataIndex];
    const bool dataInside = MemberInside(archive, data, label, dataIndex);
    const SplitResult split = dataInside ? SplitTexturePair(member, archive.Sub(data.offset, data.size), i,
                                                            unpackDirectory, JoinPath(unpackDirectory, fileName))
                                         : SplitResult::kRejected;
    if (split == SplitResult::kRejected) {
      // A pair that cannot be split is kept as it stands, both members as
      // plain files, so that nothing of it is lost.
      WriteMemberFile(member, unpackDirectory, fileName);
      if (dataInside) {
        std::string dataName = MemberFileName(table, baseName, dataIndex);
        archive.Peek(data.offset, head, sizeof head);
        SniffMember(head, table, dataIndex, dataName);
        WriteMemberFile(archive.Sub(data.offset, data.size), unpackDirectory, dataName);
      }
    }
    ok = split == SplitResult::kDone && ok;
    // An "SPV" member between the two follows the pair under its own name,
    // always as a plain member, as the repacker places it.
    if (pairing == TexturePairing::kPairAfterSpv) {
      std::string spvName;
      ok = prepare(i + 1, spvName, head, marked) && outputPlain(i + 1, spvName, head) && ok;
    }
    i = dataIndex;
  }
  return ok ? UnpackResult::kDone : UnpackResult::kFailed;
}

}  // namespace

bool UnpackArchive(const std::string& path) {
  OpenedArchive opened;
  if (!OpenArchiveFile(path, opened)) return false;
  const std::string unpackDirectory = StripExtension(path);
  if (opened.wrapped) {
    opened.container = Bytes();
    // What was recovered of a damaged container is unpacked as far as it goes.
    return UnpackFromSource(ByteSource::InMemory(opened.archive), path, unpackDirectory, 0) == UnpackResult::kDone &&
           opened.complete;
  }
  return UnpackFromSource(opened.bare, path, unpackDirectory, 0) == UnpackResult::kDone;
}

}  // namespace fpskit

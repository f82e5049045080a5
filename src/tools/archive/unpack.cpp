// "unfps": an archive into a directory of member files.
//
// The archive is read through bounded reads of its file: the header, the
// table and the strings, a few bytes of every member for naming, and the
// members themselves in kernel-side copies into their files. A member is
// loaded whole only when it must be decompressed or its TXM read; a nested
// archive is unpacked straight from its parent's bytes. What every member
// becomes is the archive's member plan (archive/plan.h); this file writes it.
#include <algorithm>
#include <cstring>
#include <optional>

#include "archive/format.h"
#include "archive/plan.h"
#include "compress/tlzc.h"
#include "texture/dds.h"
#include "tools/archive/archive_tools.h"
#include "tools/archive/shared.h"
#include "tools/texture/dds_files.h"
#include "tools/tlzc_report.h"
#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/platform.h"
#include "util/reporter.h"

namespace fpskit {
namespace {

// The files and bytes one run has written, against its limits.
struct Budget {
  UnpackLimits limits;
  std::string path;  // of the archive the run began with
  uint64_t archiveLength = 0;
  uint64_t files = 0;
  uint64_t bytes = 0;
  bool exceeded = false;

  bool Fits(uint64_t moreFiles, uint64_t moreBytes) const {
    return !exceeded && files + moreFiles <= limits.files && bytes + moreBytes <= limits.bytes;
  }
  // Counts what is about to be written; false, reported once, past a limit.
  bool Charge(uint64_t moreFiles, uint64_t moreBytes) {
    if (!exceeded && (files + moreFiles > limits.files || bytes + moreBytes > limits.bytes)) {
      exceeded = true;
      Printf("\nERROR: %s: unpacking would write more than %llu files or %llu bytes, far more than an archive of "
             "%llu bytes holds; stopped",
             path.c_str(), static_cast<unsigned long long>(limits.files),
             static_cast<unsigned long long>(limits.bytes), static_cast<unsigned long long>(archiveLength));
    }
    if (exceeded) return false;
    files += moreFiles;
    bytes += moreBytes;
    return true;
  }
};

// Where a member would be unpacked as an archive of its own. A member that
// overlaps another member of the same archive already unpacked as an archive
// is kept as a file (see MembersOverlap): its bytes are all there.
struct Nesting {
  size_t depth = 0;     // below the archive the run began with
  bool mayNest = true;  // false: the member overlaps a nested archive unpacked before it
  bool nested = false;  // set when the member was unpacked as an archive
};

bool PrepareUnpack(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                   ArchivePlan& plan);
bool UnpackMembers(const ByteSource& archive, ArchivePlan& plan, const std::string& label, size_t depth,
                   Budget& budget);

// True, reported, when a directory on the way to `relativePath` below the
// unpack directory, or the path itself, is a symbolic link (or a junction):
// writing through it could place the file anywhere.
bool PassesThroughLink(const std::string& unpackDirectory, const std::string& relativePath) {
  for (size_t end = 0; end != std::string::npos;) {
    end = relativePath.find('/', end + 1);
    const std::string path = JoinPath(unpackDirectory, relativePath.substr(0, end));
    if (platform::IsSymbolicLink(path)) {
      Printf("\nERROR: %s is a symbolic link; %s not written", path.c_str(),
             JoinPath(unpackDirectory, relativePath).c_str());
      return true;
    }
  }
  return false;
}

// Plain members are compared with an earlier run's file in pieces this large.
constexpr size_t kComparePiece = 1 << 20;

// Writes the bytes as the member's file and prints its path. A file of an
// earlier run that holds them already stays as it is.
bool WriteMemberFile(const ByteSource& bytes, const std::string& unpackDirectory, const std::string& fileName,
                     Budget& budget) {
  if (!budget.Charge(1, bytes.length) || PassesThroughLink(unpackDirectory, fileName)) return false;
  Printf("\n%s", JoinPath(unpackDirectory, fileName).c_str());
  const ByteProducer pieces = [&](const std::function<bool(ByteSpan)>& put) {
    if (bytes.file == nullptr) return put(bytes.memory);
    Bytes piece(size_t(std::min<uint64_t>(bytes.length, kComparePiece)));
    for (uint64_t offset = 0; offset < bytes.length; offset += piece.size()) {
      const size_t count = size_t(std::min<uint64_t>(bytes.length - offset, piece.size()));
      if (!bytes.ReadInto(offset, count, piece.data())) {
        Printf("\nERROR: can't read %s", JoinPath(unpackDirectory, fileName).c_str());
        return false;
      }
      if (!put(ByteSpan(piece.data(), count))) return false;
    }
    return true;
  };
  return UpdateFileBelow(unpackDirectory, fileName, bytes.length, pieces,
                         [&](std::FILE* file) { return bytes.CopyTo(0, bytes.length, file); });
}

// A nested archive, at `depth` below the archive the run began with, goes
// into the directory of its member plan (the directories of a name with
// subdirectories are made first). When its own header or table is
// rejected, its directory cannot be made, it lies too deep or it overlaps an
// archive unpacked before it, its bytes are kept as the member's file, so
// that nothing of it is lost.
bool UnpackNested(const ByteSource& nested, const ByteSource& memberBytes, ArchivePlan& plan, const std::string& label,
                  size_t i, Nesting& nesting, Budget& budget) {
  const size_t depth = nesting.depth;
  const std::string& fileName = plan.members[i].fileName;
  const std::string& directoryName = plan.members[i].directoryName;
  const std::string& unpackDirectory = plan.unpackDirectory;
  const PathCheck directory = TakeNestedDirectory(plan, i);
  if (directory != PathCheck::kUsable) {
    ReportNestedDirectory(label, plan, i, directory);
    return false;
  }
  const std::string path = JoinPath(unpackDirectory, fileName);
  if (depth > kMaxNestingDepth) {
    Printf("\nERROR: %s: archives nested more than %zu deep; kept as a file", path.c_str(), kMaxNestingDepth);
    WriteMemberFile(memberBytes, unpackDirectory, fileName, budget);
    return false;
  }
  if (!nesting.mayNest) {
    Warnf("NOTE: %s overlaps an archive unpacked before it; kept as a file", path.c_str());
    return WriteMemberFile(memberBytes, unpackDirectory, fileName, budget);
  }
  if (PassesThroughLink(unpackDirectory, directoryName)) return false;
  nesting.nested = true;
  // A failure here shows when the directory itself cannot be made.
  MakeParentDirectories(unpackDirectory, directoryName);
  ArchivePlan nestedPlan;
  if (!PrepareUnpack(nested, path, JoinPath(unpackDirectory, directoryName), nestedPlan)) {
    WriteMemberFile(memberBytes, unpackDirectory, fileName, budget);
    return false;
  }
  return UnpackMembers(nested, nestedPlan, path, depth, budget);
}

// The member's data as a file, or as a directory when it is an archive
// itself, bare or in a TLZC container.
bool OutputMember(const ByteSource& data, ArchivePlan& plan, const std::string& label, size_t i, Nesting& nesting,
                  Budget& budget) {
  const std::string& fileName = plan.members[i].fileName;
  uint8_t magic[4];
  data.Peek(0, magic, sizeof magic);
  if (data.length >= 4 && std::memcmp(magic, kArchiveMagic, 4) == 0) {
    return UnpackNested(data, data, plan, label, i, nesting, budget);
  }
  if (data.length >= 4 && std::memcmp(magic, kTlzcMagic, 4) == 0) {
    Bytes container;
    Bytes inner;
    if (!data.Read(0, data.length, container)) {
      Printf("\nERROR: can't read %s", JoinPath(plan.unpackDirectory, fileName).c_str());
      return false;
    }
    const bool complete = ReportTlzcDecode(DecompressTlzc(container, inner));
    container = Bytes();
    if (HasMagic(inner, kArchiveMagic)) {
      return UnpackNested(ByteSource::InMemory(inner), data, plan, label, i, nesting, budget) && complete;
    }
    return WriteMemberFile(data, plan.unpackDirectory, fileName, budget) && complete;
  }
  return WriteMemberFile(data, plan.unpackDirectory, fileName, budget);
}

// Decompresses a member stored in a TLZC container whole, and unpacks it as
// a member of its own (an archive in it into a directory). When the
// container fails, the member's file holds what was recovered, and the
// failure counts.
bool OutputDecompressedWhole(const ByteSource& member, ArchivePlan& plan, const std::string& label, size_t i,
                             Nesting& nesting, Budget& budget) {
  const std::string& fileName = plan.members[i].fileName;
  Bytes container;
  if (!member.Read(0, member.length, container)) {
    Printf("\nERROR: can't read %s", JoinPath(plan.unpackDirectory, fileName).c_str());
    return false;
  }
  Bytes data;
  const bool complete = ReportTlzcDecode(DecompressTlzc(container, data));
  container = Bytes();
  if (!complete) {
    WriteMemberFile(ByteSource::InMemory(data), plan.unpackDirectory, fileName, budget);
    return false;
  }
  return OutputMember(ByteSource::InMemory(data), plan, label, i, nesting, budget);
}

// A member stored in a TLZC container. Unless it holds an archive (or a
// container that may hold one), it streams from the archive into its file
// in bounded memory, block by block; the file of an earlier run that holds
// exactly its bytes stays as it is. When the container fails, the file holds
// what was recovered, and the failure counts.
bool OutputCompressedMember(const ByteSource& member, ArchivePlan& plan, const std::string& label, size_t i,
                            Nesting& nesting, Budget& budget) {
  const std::string& fileName = plan.members[i].fileName;
  const std::string path = JoinPath(plan.unpackDirectory, fileName);
  const TlzcReader read = [&member](uint64_t offset, size_t count, uint8_t* out) {
    return member.ReadInto(offset, count, out);
  };
  // The first bytes of the data tell whether it is unpacked as an archive.
  Bytes head;
  const TlzcDecodeResult peeked = DecompressTlzcStream(read, member.length, [&](ByteSpan piece) {
    AppendBytes(head, piece.first(std::min<size_t>(piece.size(), 4 - head.size())));
    return head.size() < 4;
  });
  if (peeked.status == TlzcStreamResult::kReadFailed) {
    Printf("\nERROR: can't read %s", path.c_str());
    return false;
  }
  // Charged at the size the container claims, and given back what it does
  // not deliver; a claim past the limits is tried whole, as it really comes.
  const uint64_t claimed = ClaimedTlzcSize(member);
  if (HasMagic(head, kArchiveMagic) || HasMagic(head, kTlzcMagic) || !budget.Fits(1, claimed)) {
    return OutputDecompressedWhole(member, plan, label, i, nesting, budget);
  }
  if (!budget.Charge(1, claimed) || PassesThroughLink(plan.unpackDirectory, fileName)) return false;

  // Empty when the file could not even be begun.
  std::optional<TlzcDecodeResult> result;
  uint64_t produced = 0;
  const bool written = UpdateFileBelow(
      plan.unpackDirectory, fileName, claimed, [&](const std::function<bool(ByteSpan)>& put) {
        result = DecompressTlzcStream(
            read, member.length,
            [&](ByteSpan piece) {
              produced += piece.size();
              return put(piece);
            });
        if (result->status == TlzcStreamResult::kReadFailed) Printf("\nERROR: can't read %s", path.c_str());
        return result->status == TlzcStreamResult::kComplete || result->status == TlzcStreamResult::kIncomplete;
      });
  budget.bytes -= claimed - std::min(produced, claimed);
  // The messages of the container come before its file's path, as they
  // would had it been decompressed first.
  const bool complete = result && ReportTlzcDecode(*result);
  Printf("\n%s", path.c_str());
  return written && complete;
}

// The images of a texture pair, or both its members as files when its TXM's
// records could not be read (reported by the plan) or the data member lies
// outside the archive.
bool OutputTexturePair(const ByteSource& archive, const ArchivePlan& plan, const std::string& label, size_t i,
                       Budget& budget) {
  const MemberPlan& txm = plan.members[i];
  const ArchiveEntry& entry = plan.table.entries[i];
  const ArchiveEntry& data = plan.table.entries[txm.dataIndex];
  const ByteSource member = archive.Sub(entry.offset, entry.size);
  const bool dataInside = MemberInside(archive.length, data, label, txm.dataIndex);
  if (!dataInside || !txm.recordsRead) {
    // A pair that cannot be split is kept as it stands, both members as
    // plain files, so that nothing of it is lost.
    WriteMemberFile(member, plan.unpackDirectory, txm.fileName, budget);
    if (dataInside) {
      WriteMemberFile(archive.Sub(data.offset, data.size), plan.unpackDirectory,
                      plan.members[txm.dataIndex].fileName, budget);
    }
    return false;
  }
  for (const PlannedImage& image : txm.images) {
    if (PassesThroughLink(plan.unpackDirectory, image.fileName)) return false;
  }
  if (!budget.Charge(txm.images.size(), data.size + txm.images.size() * kDdsHeaderSize)) return false;
  return SplitTexturePair(member, archive.Sub(data.offset, data.size), i, plan.unpackDirectory,
                          JoinPath(plan.unpackDirectory, txm.fileName));
}

// Plans the archive and makes its unpack directory (an archive without
// members needs none). False, reported, when its table cannot be read or the
// directory cannot be made: nothing of it was written.
bool PrepareUnpack(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                   ArchivePlan& plan) {
  if (!PlanArchiveReporting(archive, label, unpackDirectory, plan)) return false;
  if (plan.table.entries.empty() || MakeDirectory(unpackDirectory)) return true;
  Printf("\nERROR: can't create the directory %s", unpackDirectory.c_str());
  return false;
}

// Writes every member of a prepared archive, `depth` below the archive the
// run began with. False when anything was reported; what could be written
// is written.
bool UnpackMembers(const ByteSource& archive, ArchivePlan& plan, const std::string& label, size_t depth,
                   Budget& budget) {
  const ArchiveTable& table = plan.table;
  NestedMembers nestedMembers;  // the members unpacked as archives, for Nesting::mayNest
  // Member k as a file, decompressed when it is compressed, or as a directory.
  auto outputPlain = [&](size_t k) {
    const MemberPlan& member = plan.members[k];
    if (member.check != PathCheck::kUsable) {
      ReportPathCheck(label, plan, k);
      return false;
    }
    const ArchiveEntry& entry = table.entries[k];
    if (!MemberInside(archive.length, entry, label, k)) return false;
    const ByteSource bytes = archive.Sub(entry.offset, entry.size);
    Nesting nesting{depth + 1, !nestedMembers.Overlaps(entry)};
    const bool written = member.compressed ? OutputCompressedMember(bytes, plan, label, k, nesting, budget)
                                           : OutputMember(bytes, plan, label, k, nesting, budget);
    if (nesting.nested) nestedMembers.Add(entry);
    return written;
  };

  bool ok = true;
  ProgressMeter progress("unfps", table.entries.size(), "members", depth == 0);
  for (size_t i = 0; i < table.entries.size() && !budget.exceeded; ++i) {
    progress.SetDone(i);
    const MemberPlan& member = plan.members[i];
    switch (member.role) {
      case MemberRole::kNone:
      case MemberRole::kPairSpv:   // with its pair
      case MemberRole::kPairData:  // with its pair
        break;
      case MemberRole::kDamaged:  // reported with the table
        ok = false;
        break;
      case MemberRole::kMember:
      case MemberRole::kEmptyEntry:
        ok = outputPlain(i) && ok;
        break;
      case MemberRole::kTexturePair:
        if (member.check != PathCheck::kUsable) {
          ReportPathCheck(label, plan, i);
          ok = false;
        } else {
          // The plan pairs only a TXM inside the archive.
          ok = OutputTexturePair(archive, plan, label, i, budget) && ok;
        }
        // An "SPV" member between the two follows the pair under its own
        // name, always as a plain member, as the repacker places it.
        if (member.pairing == TexturePairing::kPairAfterSpv) ok = outputPlain(i + 1) && ok;
        break;
    }
  }
  return ok && !budget.exceeded;
}

bool UnpackFromSource(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                      Budget& budget) {
  ArchivePlan plan;
  return PrepareUnpack(archive, label, unpackDirectory, plan) && UnpackMembers(archive, plan, label, 0, budget);
}

}  // namespace

UnpackLimits UnpackLimitsFor(uint64_t archiveLength) {
  return {kUnpackFileAllowance + archiveLength / kUnpackFilesPerArchiveByte,
          kUnpackByteAllowance + archiveLength * kUnpackBytesPerArchiveByte};
}

namespace {

bool UnpackOpened(const std::string& path, OpenedArchive& opened, const UnpackLimits& limits) {
  const std::string unpackDirectory = StripExtension(path);
  Budget budget{limits, path, opened.wrapped ? opened.container.size() : opened.bare.length};
  if (opened.wrapped) {
    opened.container = Bytes();
    // What was recovered of a damaged container is unpacked as far as it goes.
    return UnpackFromSource(ByteSource::InMemory(opened.archive), path, unpackDirectory, budget) && opened.complete;
  }
  return UnpackFromSource(opened.bare, path, unpackDirectory, budget);
}

}  // namespace

bool UnpackArchive(const std::string& path) {
  OpenedArchive opened;
  if (!OpenArchiveFile(path, opened)) return false;
  return UnpackOpened(path, opened, UnpackLimitsFor(opened.wrapped ? opened.container.size() : opened.bare.length));
}

bool UnpackArchiveWithin(const std::string& path, const UnpackLimits& limits) {
  OpenedArchive opened;
  return OpenArchiveFile(path, opened) && UnpackOpened(path, opened, limits);
}

}  // namespace fpskit

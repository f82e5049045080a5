// "fps": an archive rebuilt from its unpack directory.
//
// The new archive is written completely beside the old one through the safe
// replacement and renamed over it only when everything succeeded, so a
// damaged source, a member that fails, an unreadable file or a failed write
// leaves the archive and its unpack directory as they were. Members are
// looked for under the names the unpacker gave them (the member plan of
// archive/plan.h); plain members move in kernel-side copies, nested archives are
// rebuilt in place inside the new archive (or in memory when compressed), and
// compressed members keep every block their data still has.
#include <algorithm>
#include <cstring>

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

bool RepackInto(const ByteSource& source, const std::string& label, const std::string& unpackDirectory,
                ByteSink& sink, size_t depth);

uint64_t RoundUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// One archive being rebuilt: its source, its table and the new table.
struct Rebuild {
  const ByteSource& source;
  ArchivePlan& plan;
  const ArchiveTable& table;
  std::vector<ArchiveEntry> entries;  // the new table
  std::string label;
  std::string unpackDirectory;
  ByteSink& sink;
  uint32_t alignment;
  size_t depth;  // below the archive the run began with
  NestedMembers nestedMembers = {};  // the members rebuilt as archives (see MembersOverlap)

  // The current end as a 32-bit archive offset; false, with a message, past 4 GiB.
  bool Position(uint32_t& offset) const {
    if (sink.length > UINT32_MAX) {
      Printf("\nERROR: %s: the rebuilt archive would pass 4 GiB", label.c_str());
      return false;
    }
    offset = uint32_t(sink.length);
    return true;
  }

  bool Pad() {
    if (table.header.entrySize == 8) return true;
    return sink.WriteZeros(RoundUp(sink.length, alignment) - sink.length);
  }

  bool Inside(const ArchiveEntry& entry, size_t i) const { return MemberInside(source.length, entry, label, i); }
};

// A nested archive (bare, or in a TLZC container of its own) held in memory,
// rebuilt from its directory. `nested` is false when the data is neither. A
// container inside that does not decompress completely is member i's error,
// as it is for the unpacker.
bool RebuildNestedInMemory(ByteSpan data, const std::string& path, const std::string& directory, size_t depth,
                           const std::string& label, size_t i, Bytes& rebuilt, bool& nested) {
  nested = false;
  if (HasMagic(data, kArchiveMagic)) {
    nested = true;
    ByteSink sink = ByteSink::InMemory(rebuilt);
    return RepackInto(ByteSource::InMemory(data), path, directory, sink, depth);
  }
  if (!HasMagic(data, kTlzcMagic)) return true;
  // The unpacker looks inside a container in a container too.
  Bytes inner;
  Bytes innerRebuilt;
  bool innerNested = false;
  if (!ReportTlzcDecode(DecompressTlzc(data, inner))) {
    Printf("\nERROR: %s: member %zu does not decompress; nothing was changed", label.c_str(), i);
    return false;
  }
  if (!RebuildNestedInMemory(inner, path, directory, depth, label, i, innerRebuilt, innerNested)) return false;
  if (!innerNested) return true;
  nested = true;
  rebuilt = RecompressTlzc(data, inner, innerRebuilt);
  return true;
}

// True when the member's file is there to be read. Anything else standing
// at its path (a directory, a device) is not a member file: the member comes
// from the archive, and the translator is told.
bool HasMemberFile(const std::string& path, size_t i) {
  if (!platform::PathExists(path)) return false;
  if (platform::IsRegularFile(path)) return true;
  Warnf("NOTE: %s is not a file; member %zu is taken from the archive", path.c_str(), i);
  return false;
}

// Reads a source's bytes for the streaming codec.
TlzcReader SourceReader(const ByteSource& source) {
  return [source](uint64_t offset, size_t count, uint8_t* out) { return source.ReadInto(offset, count, out); };
}

// A compressed member from its file, in bounded memory. The source's
// container is decompressed block by block and compared with the file as
// the blocks come (a container that does not decompress completely left
// only part of the member in its file, so it stops the run): a file that
// holds exactly its bytes keeps the container as it stands; otherwise the
// file is compressed block by block into the new archive, every block still
// the same as the source's kept as it stands.
bool WriteCompressedFromFile(Rebuild& rebuild, size_t i, const std::string& path) {
  const ArchiveEntry& entry = rebuild.table.entries[i];
  const ByteSource container = rebuild.source.Sub(entry.offset, entry.size);
  const TlzcReader readSource = SourceReader(container);
  FileHandle file = OpenFile(path, "rb");
  uint64_t length = 0;
  if (!file || !FileLength(file.get(), length) || !SeekFile(file.get(), 0)) {
    Printf("\nERROR: can't read %s", path.c_str());
    return false;
  }
  const uint64_t decodedSize = ClaimedTlzcSize(container);

  // Which 64 KiB blocks of the file differ from the source's.
  std::vector<bool> differs(TlzcBlockCount(decodedSize), false);
  uint64_t position = 0;
  bool fileFailed = false;
  Bytes theirs;
  const TlzcDecodeResult checked = DecompressTlzcStream(
      readSource, container.length,
      [&](ByteSpan piece) {
        const uint64_t available = position < length ? std::min<uint64_t>(piece.size(), length - position) : 0;
        theirs.resize(size_t(available));
        if (available > 0 && std::fread(theirs.data(), 1, theirs.size(), file.get()) != theirs.size()) {
          fileFailed = true;
          return false;
        }
        for (size_t at = 0; at < piece.size();) {
          const uint64_t block = (position + at) / TlzcBlockSize;
          const size_t end = size_t(std::min<uint64_t>(piece.size(), (block + 1) * TlzcBlockSize - position));
          const bool same = end <= available &&
                            std::equal(piece.begin() + ptrdiff_t(at), piece.begin() + ptrdiff_t(end),
                                       theirs.begin() + ptrdiff_t(at));
          if (!same && block < differs.size()) differs[size_t(block)] = true;
          at = end;
        }
        position += piece.size();
        return true;
      });
  if (fileFailed) {
    Printf("\nERROR: can't read %s", path.c_str());
    return false;
  }
  if (checked.status == TlzcStreamResult::kReadFailed) {
    Printf("\nERROR: %s: can't read member %zu", rebuild.label.c_str(), i);
    return false;
  }
  if (!ReportTlzcDecode(checked)) {
    Printf("\nERROR: %s: member %zu does not decompress completely: %s holds only part of it; nothing was changed",
           rebuild.label.c_str(), i, path.c_str());
    return false;
  }
  Printf("\n+ %s", path.c_str());
  if (length == decodedSize && std::find(differs.begin(), differs.end(), true) == differs.end()) {
    return rebuild.sink.Copy(rebuild.source, entry.offset, entry.size);
  }

  std::vector<TlzcKeptBlock> keep = TlzcSourceBlocks(readSource, container.length);
  for (size_t b = 0; b < keep.size() && b < differs.size(); ++b) {
    const uint64_t start = uint64_t(b) * TlzcBlockSize;
    const uint64_t dataLength = start < length ? std::min<uint64_t>(TlzcBlockSize, length - start) : 0;
    const uint64_t sourceLength = std::min<uint64_t>(TlzcBlockSize, decodedSize - start);
    keep[b].kept = !differs[b] && start < length && dataLength == sourceLength;
  }
  ByteSink& sink = rebuild.sink;
  const uint64_t start = sink.length;
  const TlzcWriter writer{[&sink](ByteSpan bytes) { return sink.Write(bytes); },
                          [&sink, start](uint64_t at, ByteSpan bytes) { return sink.Patch(start + at, bytes); }};
  const TlzcReader readFile = [&file](uint64_t offset, size_t count, uint8_t* out) {
    return SeekFile(file.get(), offset) && std::fread(out, 1, count, file.get()) == count;
  };
  switch (CompressTlzcStream(length, readFile, writer, keep, readSource)) {
    case TlzcWriteResult::kWritten:
      return true;
    case TlzcWriteResult::kTooLarge:
      Printf("\nERROR: %s is too large for a TLZC container", path.c_str());
      return false;
    case TlzcWriteResult::kReadFailed:
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    case TlzcWriteResult::kWriteFailed:
      break;
  }
  return false;
}

// Writes the data of member i: from its file when there is one, otherwise
// from the source, rebuilding a nested archive from its directory.
bool WriteMemberData(Rebuild& rebuild, size_t i) {
  const MemberPlan& member = rebuild.plan.members[i];
  const ArchiveEntry& entry = rebuild.table.entries[i];
  const std::string path = JoinPath(rebuild.unpackDirectory, member.fileName);
  // A refused name was never written to the unpack directory, nor a path
  // that two members share.
  const bool usable = member.check == PathCheck::kUsable;
  if (!rebuild.Inside(entry, i)) return false;
  const bool fromFile = usable && HasMemberFile(path, i);
  // A member overlapping one rebuilt as an archive is taken as it stands;
  // the unpacker kept it as a file.
  const bool nestedDirectory = usable && !rebuild.nestedMembers.Overlaps(entry);
  const std::string directory = JoinPath(rebuild.unpackDirectory, member.directoryName);
  const bool compressed = member.compressed;

  if (compressed) {
    if (fromFile) return WriteCompressedFromFile(rebuild, i, path);
    // The member comes from the archive: decompressed once to check it
    // (and to see whether it holds an archive), then copied as it stands.
    const ByteSource container = rebuild.source.Sub(entry.offset, entry.size);
    Bytes head;
    const TlzcDecodeResult checked = DecompressTlzcStream(
        SourceReader(container), container.length, [&](ByteSpan piece) {
          if (head.size() < 4) AppendBytes(head, piece.first(std::min<size_t>(piece.size(), 4 - head.size())));
          return true;
        });
    ReportTlzcDecode(checked);
    if (checked.status == TlzcStreamResult::kReadFailed) {
      Printf("\nERROR: %s: can't read member %zu", rebuild.label.c_str(), i);
      return false;
    }
    if (!checked.ok()) {
      Printf("\nERROR: %s: member %zu does not decompress; nothing was changed", rebuild.label.c_str(), i);
      return false;
    }
    // Only an archive (or a container that may hold one) takes a directory,
    // as it did when the member was unpacked; it is rebuilt in memory.
    const bool mayBeArchive = HasMagic(head, kArchiveMagic) || HasMagic(head, kTlzcMagic);
    if (!nestedDirectory || !mayBeArchive || TakeNestedDirectory(rebuild.plan, i) != PathCheck::kUsable) {
      return rebuild.sink.Copy(rebuild.source, entry.offset, entry.size);
    }
    Bytes source;
    Bytes decoded;
    if (!container.Read(0, container.length, source)) {
      Printf("\nERROR: %s: can't read member %zu", rebuild.label.c_str(), i);
      return false;
    }
    // The check above decompressed the same bytes; a container that fails
    // now is reported as it would have been there.
    if (!ReportTlzcDecode(DecompressTlzc(source, decoded))) {
      Printf("\nERROR: %s: member %zu does not decompress; nothing was changed", rebuild.label.c_str(), i);
      return false;
    }
    Bytes rebuilt;
    bool nested = false;
    if (!RebuildNestedInMemory(decoded, path, directory, rebuild.depth + 1, rebuild.label, i, rebuilt, nested)) {
      return false;
    }
    if (!nested) return rebuild.sink.Copy(rebuild.source, entry.offset, entry.size);
    rebuild.nestedMembers.Add(entry);
    const Bytes result = RecompressTlzc(source, decoded, rebuilt);
    if (result.empty()) {
      Printf("\nERROR: %s is too large for a TLZC container", path.c_str());
      return false;
    }
    return rebuild.sink.Write(result);
  }

  if (fromFile) {
    Printf("\n+ %s", path.c_str());
    FileHandle file = OpenFile(path, "rb");
    uint64_t length = 0;
    if (!file || !FileLength(file.get(), length)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    if (rebuild.sink.CopyFromFile(file.get(), length)) return true;
    if (!rebuild.sink.failed) Printf("\nERROR: can't read %s", path.c_str());
    return false;
  }
  if (nestedDirectory && member.bareArchive) {
    ByteSink inner = rebuild.sink.Inner();
    const bool ok = RepackInto(rebuild.source.Sub(entry.offset, entry.size), path, directory, inner, rebuild.depth + 1);
    rebuild.sink.Append(inner);
    rebuild.nestedMembers.Add(entry);
    return ok;
  }
  return rebuild.sink.Copy(rebuild.source, entry.offset, entry.size);
}

// Continuation entries of 8-byte tables keep their distance from the start
// of the member that leads them, now `length` bytes long. An entry that
// would then lie past the member's end would point into the member after
// it: false, reported.
bool MoveContinuationRun(Rebuild& rebuild, size_t leader, uint64_t length) {
  const std::vector<ArchiveEntry>& source = rebuild.table.entries;
  if (!HasContinuationMarks(rebuild.table.header)) return true;
  for (size_t j = leader + 1; j < source.size() && source[j].paddedSize == kContinuationMark; ++j) {
    // Entries without data keep their offsets, as skipped entries do.
    if (source[j].offset == 0 || source[j].offset == kNoMember || source[j].offset < source[leader].offset) continue;
    const uint64_t distance = source[j].offset - source[leader].offset;
    // An entry at the very end of its member stays there when it was there.
    if (distance > length || (distance == length && distance < source[leader].size)) {
      Printf("\nERROR: %s: member %zu is now 0x%llX bytes; its continuation entry %zu, 0x%llX bytes into it, would "
             "point past its end; nothing was changed",
             rebuild.label.c_str(), leader, static_cast<unsigned long long>(length), j,
             static_cast<unsigned long long>(distance));
      return false;
    }
    const uint64_t moved = uint64_t(rebuild.entries[leader].offset) + distance;
    rebuild.entries[j].offset = uint32_t(std::min<uint64_t>(moved, UINT32_MAX));
  }
  return true;
}

// A plain member at the end of the new archive, with its new size and padding.
bool PlaceMember(Rebuild& rebuild, size_t i) {
  ArchiveEntry& entry = rebuild.entries[i];
  const uint64_t start = rebuild.sink.length;
  if (!rebuild.Position(entry.offset) || !WriteMemberData(rebuild, i)) return false;
  const uint64_t length = rebuild.sink.length - start;
  if (length > UINT32_MAX) {
    Printf("\nERROR: %s: member %zu would pass 4 GiB", rebuild.label.c_str(), i);
    return false;
  }
  if (rebuild.table.header.entrySize != 8) {
    entry.size = uint32_t(length);
    entry.paddedSize = uint32_t(std::min<uint64_t>(RoundUp(length, rebuild.alignment), UINT32_MAX));
  }
  return MoveContinuationRun(rebuild, i, length) && rebuild.Pad();
}

// Copies a member of a texture pair as it stands: its copy length, the part
// past the source's end (trimmed padding) as zeros.
bool CopyPairMember(Rebuild& rebuild, size_t i) {
  const ArchiveEntry& entry = rebuild.table.entries[i];
  const uint32_t copyLength = CopyLength(rebuild.table, entry);
  if (!rebuild.Inside(entry, i)) return false;
  const uint64_t available = std::min<uint64_t>(copyLength, rebuild.source.length - entry.offset);
  // Only the padding of the archive's last member can have been trimmed,
  // and padding is shorter than the alignment: a padded size reaching
  // further past the end would have gigabytes of zeros written.
  if (copyLength - available >= rebuild.alignment) {
    Printf("\nERROR: %s: member %zu's padded size reaches 0x%llX bytes past the archive's end",
           rebuild.label.c_str(), i, static_cast<unsigned long long>(copyLength - available));
    return false;
  }
  return rebuild.Position(rebuild.entries[i].offset) && rebuild.sink.Copy(rebuild.source, entry.offset, available) &&
         rebuild.sink.WriteZeros(copyLength - available);
}

// A texture pair: the TXM member, an "SPV" member between the two when the
// table has one, the texture data member with the images written back. Both
// members of the pair keep their sizes. A pair whose image paths are
// refused or shared is copied as it stands, as the unpacker wrote none of
// its images.
bool PlaceTexturePair(Rebuild& rebuild, size_t i) {
  const MemberPlan& member = rebuild.plan.members[i];
  const size_t dataIndex = member.dataIndex;
  if (!CopyPairMember(rebuild, i)) return false;
  if (member.pairing == TexturePairing::kPairAfterSpv && !PlaceMember(rebuild, i + 1)) return false;
  const ArchiveEntry& txm = rebuild.table.entries[i];
  const ArchiveEntry& data = rebuild.table.entries[dataIndex];
  if (!CopyPairMember(rebuild, dataIndex)) return false;
  // Both members lie inside the source: the TXM's records that could not be
  // read were reported with the plan.
  if (!member.recordsRead) return false;
  if (member.check == PathCheck::kUsable &&
      !RebuildTexturePair(rebuild.source.Sub(txm.offset, txm.size), data.size, rebuild.sink,
                          rebuild.entries[dataIndex].offset, i, rebuild.unpackDirectory,
                          JoinPath(rebuild.unpackDirectory, member.fileName))) {
    return false;
  }
  return MoveContinuationRun(rebuild, dataIndex, CopyLength(rebuild.table, data)) && rebuild.Pad();
}

// The new table over the copied one: offsets, padded sizes (not with flags
// 0x8D; the continuation marks of 8-byte tables as they were) and sizes (not
// in 8-byte tables). Names and everything else keep the source's bytes.
bool RewriteTable(Rebuild& rebuild) {
  const ArchiveHeader& header = rebuild.table.header;
  Bytes table;
  if (!rebuild.source.Read(kArchiveTableOffset, uint64_t(rebuild.entries.size()) * header.entrySize, table)) return false;
  for (size_t i = 0; i < rebuild.entries.size(); ++i) {
    uint8_t* fields = table.data() + i * header.entrySize;
    const ArchiveEntry& entry = rebuild.entries[i];
    StoreU32BE(fields, entry.offset);
    if (header.flags == kFlagsShortLayout) {
      StoreU32BE(fields + 4, entry.size);
      continue;
    }
    StoreU32BE(fields + 4, entry.paddedSize);
    if (header.entrySize != 8) StoreU32BE(fields + 8, entry.size);
  }
  return rebuild.sink.Patch(kArchiveTableOffset, table);
}

bool RepackInto(const ByteSource& source, const std::string& label, const std::string& unpackDirectory,
                ByteSink& sink, size_t depth) {
  if (depth > kMaxNestingDepth) {
    Printf("\nERROR: %s: archives nested more than %zu deep", label.c_str(), kMaxNestingDepth);
    return false;
  }
  ArchivePlan plan;
  if (!PlanArchiveReporting(source, label, unpackDirectory, plan)) return false;
  const ArchiveTable& table = plan.table;
  // A member the unpacker could not size was never written: rebuilding
  // without it would drop its data.
  if (!table.damaged.empty()) {
    Printf("\nERROR: %s: damaged FPS4 entry table; nothing was changed", label.c_str());
    return false;
  }
  const ArchiveHeader& header = table.header;
  const uint64_t tableEnd = kArchiveTableOffset + uint64_t(table.entries.size()) * header.entrySize;
  if (header.dataStart < tableEnd || header.dataStart > source.length) {
    Printf("\nERROR: %s: FPS4 data start 0x%X does not lie between the entry table and the archive's end",
           label.c_str(), header.dataStart);
    return false;
  }
  // Only the bytes before the data are carried over: a type or name string
  // after them would be lost, and the members renamed by what stands there.
  if (table.stringsEnd > header.dataStart) {
    Printf("\nERROR: %s: FPS4 type or name strings after the member data; nothing was changed", label.c_str());
    return false;
  }
  // What the translator left in the unpack directory that no member reads.
  if (platform::IsDirectory(unpackDirectory)) {
    for (const std::string& path : PathsNotTaken(plan)) {
      Warnf("NOTE: %s is not taken: it is the file of no member", JoinPath(unpackDirectory, path).c_str());
    }
  }
  Rebuild rebuild{source, plan, table, table.entries, label, unpackDirectory, sink, ArchiveAlignment(header), depth};
  if (!sink.Copy(source, 0, header.dataStart)) return false;

  ProgressMeter progress("fps", table.entries.size(), "members", depth == 0);
  for (size_t i = 0; i < table.entries.size(); ++i) {
    progress.SetDone(i);
    switch (plan.members[i].role) {
      case MemberRole::kMember:
        if (!PlaceMember(rebuild, i)) return false;
        break;
      case MemberRole::kTexturePair:
        if (!PlaceTexturePair(rebuild, i)) return false;
        break;
      // Entries without a member, and the entries of 8-byte tables without
      // data, stay where they are; continuation entries move with their
      // member, the others of a pair with it.
      default:
        break;
    }
  }
  return RewriteTable(rebuild);
}

}  // namespace

bool RepackArchive(const std::string& path) {
  OpenedArchive opened;
  if (!OpenArchiveFile(path, opened)) return false;
  const std::string unpackDirectory = StripExtension(path);

  if (opened.wrapped) {
    if (!opened.complete) {
      Printf("\nERROR: %s does not decompress completely; nothing was changed", path.c_str());
      return false;
    }
    Bytes rebuilt;
    ByteSink sink = ByteSink::InMemory(rebuilt);
    if (!RepackInto(ByteSource::InMemory(opened.archive), path, unpackDirectory, sink, 0)) return false;
    // Written back in a container too; an unchanged archive keeps the very
    // container it came in.
    const Bytes result = RecompressTlzc(opened.container, opened.archive, rebuilt);
    if (result.empty()) {
      Printf("\nERROR: %s is too large for a TLZC container", path.c_str());
      return false;
    }
    return ReplaceFileSafely(path, result);
  }
  return ReplaceFileWithStatus(path, [&](std::FILE* out) {
    ByteSink sink = ByteSink::InFile(out, 0);
    const bool rebuilt = RepackInto(opened.bare, path, unpackDirectory, sink, 0);
    // The source is closed before it is replaced: Windows renames over no
    // file that is still open.
    opened.file.reset();
    if (rebuilt) return WriterStatus::kWritten;
    return sink.failed ? WriterStatus::kWriteFailed : WriterStatus::kReported;
  });
}

}  // namespace fpskit

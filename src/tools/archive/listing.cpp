// "lsfps": the member plan of an archive, listed without writing anything.
//
// One line per member: its number (nested members numbered below their
// archive's, "3.0"), what "fps" will do with its file when the unpack
// directory exists, the path "unfps" gives it, its stored size, and after
// that its TLZC kind and decompressed size, the directory of a nested
// archive, or the images of a texture pair, each on a line of its own. The
// files that "fps" will not take follow every archive's members. What unfps
// would report (a damaged table, a refused or shared path, a member outside
// its archive, a container that does not decompress) is reported the same
// way, and the result is then false.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/format.h"
#include "archive/plan.h"
#include "compress/tlzc.h"
#include "texture/dds.h"
#include "tools/archive/archive_tools.h"
#include "tools/archive/shared.h"
#include "tools/texture/texture_report.h"
#include "tools/tlzc_report.h"
#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/platform.h"

namespace fpskit {
namespace {

// Status marks: the file equals the member (fps keeps the member), it
// differs (fps takes it), there is none (fps takes the archive's copy), a
// file fps does not take, an image whose header does not describe its
// texture (fps stops on it).
constexpr char kKept = '=';
constexpr char kTaken = 'M';
constexpr char kNoFile = '-';
constexpr char kNotTaken = '?';
constexpr char kRefused = '!';

struct Listing {
  bool withStatus = false;  // the unpack directory exists
  uint64_t decoded = 0;     // bytes decompressed so far, against `limit`
  uint64_t limit = 0;
  bool stopped = false;
};

void PrintLine(const Listing& listing, char status, const std::string& number, const std::string& path,
               const std::string& details) {
  if (listing.withStatus) {
    Printf("\n%c %-6s %s%s", status, number.c_str(), path.c_str(), details.c_str());
  } else {
    Printf("\n%-6s %s%s", number.c_str(), path.c_str(), details.c_str());
  }
}

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// What fps does with the file at `path` for a member whose content is `content`.
char FileStatus(const std::string& path, ByteSpan content) {
  if (!platform::IsRegularFile(path)) return kNoFile;
  Bytes file;
  if (!ReadWholeFile(path, file)) return kTaken;  // fps reports it
  return ByteSpan(file).size() == content.size() && std::equal(file.begin(), file.end(), content.begin()) ? kKept
                                                                                                           : kTaken;
}

// What fps does with an image: a file of 128 bytes or less is passed over;
// any other is checked against its texture first, as fps checks it, and
// refused when its header does not describe the texture (`check` then says
// what differs). Otherwise the pixels after its header, at most the image's
// size, replace the start of the image.
char ImageStatus(const std::string& path, const TextureRecord& texture, uint32_t code, ByteSpan pixels,
                 DdsCheck& check) {
  if (!platform::IsRegularFile(path)) return kNoFile;
  Bytes file;
  if (!ReadWholeFile(path, file)) return kTaken;
  if (file.size() <= kDdsHeaderSize) return kKept;
  const size_t headSize = std::min(file.size(), kDdsHeaderSize + kDdsDx10HeaderSize);
  check = CheckDdsFile(ByteSpan(file.data(), headSize), file.size(), texture, code);
  if (!check.matches) return kRefused;
  const size_t start = std::min(check.pixelStart, file.size());
  const size_t count = std::min(file.size() - start, pixels.size());
  return std::equal(file.begin() + ptrdiff_t(start), file.begin() + ptrdiff_t(start + count), pixels.begin()) ? kKept
                                                                                                             : kTaken;
}

bool ListFrom(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
              const std::string& numberPrefix, size_t depth, Listing& listing);

// The member's bytes as fps compares them with its file: decompressed when
// stored in a container. False, reported as unfps reports it, when the
// container does not decompress.
bool MemberContent(const ByteSource& bytes, const MemberPlan& member, Listing& listing, Bytes& content,
                   std::string& details) {
  // Without a file to compare, only a member that is or may hold an archive is read.
  const bool needed = listing.withStatus || member.compressed || member.bareArchive ||
                      (bytes.length >= 4 && HasMagic(member.head, kTlzcMagic));
  if (!needed) return true;
  if (!bytes.Read(0, bytes.length, content)) return false;
  if (!member.compressed) return true;
  TlzcHeader header;
  ParseTlzcHeader(content, header);
  if (listing.decoded + header.uncompressedSize > listing.limit) {
    Printf("\nERROR: listing would decompress more than %llu bytes; stopped",
           static_cast<unsigned long long>(listing.limit));
    listing.stopped = true;
    return false;
  }
  Bytes decoded;
  const bool complete = ReportTlzcDecode(DecompressTlzc(content, decoded));
  listing.decoded += decoded.size();
  details += ", TLZC " + std::string(header.lzmaKind ? "LZMA" : "zlib") + " kind, " + Hex(decoded.size()) +
             " bytes decompressed";
  content = std::move(decoded);
  return complete;
}

// A member listed as a file, or as a nested archive with its members below.
bool ListMember(const ByteSource& archive, ArchivePlan& plan, const std::string& label, size_t i,
                const std::string& numberPrefix, size_t depth, NestedMembers& nested, Listing& listing) {
  const MemberPlan& member = plan.members[i];
  const ArchiveEntry& entry = plan.table.entries[i];
  const std::string number = numberPrefix + std::to_string(i);
  const std::string path = JoinPath(plan.unpackDirectory, member.fileName);
  std::string details = "  " + Hex(entry.size) + " bytes";
  if (member.check != PathCheck::kUsable) {
    ReportPathCheck(label, plan, i);
    PrintLine(listing, kNoFile, number, path, details + ", not written");
    return false;
  }
  if (!MemberInside(archive.length, entry, label, i)) return false;
  Bytes content;
  bool ok = MemberContent(archive.Sub(entry.offset, entry.size), member, listing, content, details);
  if (listing.stopped) return false;
  const char status = listing.withStatus ? FileStatus(path, content) : ' ';
  // A container inside the member that holds an archive is followed too,
  // as unfps does.
  Bytes inner;
  ByteSpan archiveBytes = content;
  TlzcHeader innerHeader;
  if (HasMagic(content, kTlzcMagic) && ParseTlzcHeader(content, innerHeader) &&
      listing.decoded + innerHeader.uncompressedSize <= listing.limit) {
    ok = ReportTlzcDecode(DecompressTlzc(content, inner)) && ok;
    listing.decoded += inner.size();
    if (HasMagic(inner, kArchiveMagic)) archiveBytes = inner;
  }
  if (!HasMagic(archiveBytes, kArchiveMagic) || nested.Overlaps(entry)) {
    PrintLine(listing, status, number, path, details);
    return ok;
  }
  const PathCheck taken = TakeNestedDirectory(plan, i);
  if (taken != PathCheck::kUsable) {
    ReportNestedDirectory(label, plan, i, taken);
    PrintLine(listing, kNoFile, number, path, details + ", not written");
    return false;
  }
  if (depth + 1 > kMaxNestingDepth) {
    Printf("\nERROR: %s: archives nested more than %zu deep; kept as a file", path.c_str(), kMaxNestingDepth);
    PrintLine(listing, status, number, path, details);
    return false;
  }
  nested.Add(entry);
  const std::string directory = JoinPath(plan.unpackDirectory, member.directoryName);
  PrintLine(listing, status, number, path, details + ", archive in " + directory + "/");
  return ListFrom(ByteSource::InMemory(archiveBytes), path, directory, number + ".", depth + 1, listing) && ok;
}

// A texture pair and its images; the data member is listed with it.
bool ListTexturePair(const ByteSource& archive, const ArchivePlan& plan, const std::string& label, size_t i,
                     const std::string& numberPrefix, Listing& listing) {
  const MemberPlan& txm = plan.members[i];
  const ArchiveEntry& entry = plan.table.entries[i];
  const ArchiveEntry& data = plan.table.entries[txm.dataIndex];
  const std::string number = numberPrefix + std::to_string(i);
  const std::string path = JoinPath(plan.unpackDirectory, txm.fileName);
  const std::string details = "  " + Hex(entry.size) + " bytes, texture pair with member " +
                              std::to_string(txm.dataIndex) + " (" + Hex(data.size) + " bytes)";
  if (txm.check != PathCheck::kUsable) {
    ReportPathCheck(label, plan, i);
    PrintLine(listing, kNoFile, number, path, details + ", images not written");
    return false;
  }
  bool inside = true;
  for (const size_t k : {i, txm.dataIndex}) {
    inside = MemberInside(archive.length, plan.table.entries[k], label, k) && inside;
  }
  if (!inside || !txm.recordsRead) {  // unfps keeps both as files; fps stops
    PrintLine(listing, ' ', number, path, details + ", damaged");
    return false;
  }
  PrintLine(listing, ' ', number, path, details + ", " + std::to_string(txm.images.size()) + " images:");
  const ByteSource pixels = archive.Sub(data.offset, data.size);
  bool ok = true;
  for (const PlannedImage& image : txm.images) {
    const TextureRecord& texture = txm.textures.textures[image.texture];
    const std::string imagePath = JoinPath(plan.unpackDirectory, image.fileName);
    char status = ' ';
    DdsCheck check;
    if (listing.withStatus) {
      const uint32_t size = ImageSize(texture);
      const uint32_t code = TextureFormatCode(texture, txm.textures.mapsFormats);
      Bytes bytes;
      ok = pixels.Read(texture.dataOffset + uint64_t(image.image) * size, size, bytes) && ok;
      SwapDdsPixelOrder(code, bytes);
      status = ImageStatus(imagePath, texture, code, bytes, check);
    }
    PrintLine(listing, status, "", imagePath, "");
    if (status == kRefused) {  // fps would stop on it
      ReportDdsMismatch(imagePath, check);
      ok = false;
    }
  }
  return ok;
}

bool ListFrom(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
              const std::string& numberPrefix, size_t depth, Listing& listing) {
  ArchivePlan plan;
  if (!PlanArchiveReporting(archive, label, unpackDirectory, plan)) return false;
  NestedMembers nested;
  bool ok = true;
  for (size_t i = 0; i < plan.members.size() && !listing.stopped; ++i) {
    const MemberPlan& member = plan.members[i];
    switch (member.role) {
      case MemberRole::kNone:
      case MemberRole::kPairSpv:
      case MemberRole::kPairData:
        break;
      case MemberRole::kDamaged:  // reported with the table
        ok = false;
        break;
      case MemberRole::kMember:
      case MemberRole::kEmptyEntry:
        ok = ListMember(archive, plan, label, i, numberPrefix, depth, nested, listing) && ok;
        break;
      case MemberRole::kTexturePair:
        ok = ListTexturePair(archive, plan, label, i, numberPrefix, listing) && ok;
        if (member.pairing == TexturePairing::kPairAfterSpv) {
          ok = ListMember(archive, plan, label, i + 1, numberPrefix, depth, nested, listing) && ok;
        }
        break;
    }
  }
  if (listing.withStatus && platform::IsDirectory(unpackDirectory)) {
    for (const std::string& path : PathsNotTaken(plan)) {
      PrintLine(listing, kNotTaken, "", JoinPath(unpackDirectory, path), "");
    }
  }
  return ok && !listing.stopped;
}

}  // namespace

bool ListArchive(const std::string& path) {
  OpenedArchive opened;
  if (!OpenArchiveFile(path, opened)) return false;
  const std::string unpackDirectory = StripExtension(path);
  Listing listing;
  listing.withStatus = platform::IsDirectory(unpackDirectory);
  const uint64_t length = opened.wrapped ? opened.container.size() : opened.bare.length;
  listing.limit = UnpackLimitsFor(length).bytes;
  if (opened.wrapped) {
    opened.container = Bytes();
    return ListFrom(ByteSource::InMemory(opened.archive), path, unpackDirectory, "", 0, listing) && opened.complete;
  }
  return ListFrom(opened.bare, path, unpackDirectory, "", 0, listing);
}

}  // namespace fpskit

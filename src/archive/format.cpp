#include "archive/format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "compress/tlzc.h"
#include "tools/tlzc_report.h"
#include "util/console.h"
#include "util/paths.h"

namespace fpskit {
namespace {

constexpr char kNamePrefix[] = "name=";
// Name strings are read in pieces of this size until their zero byte, and
// are never longer than kLongestNameString.
constexpr size_t kNameChunk = 256;
constexpr size_t kLongestNameString = 4096;
constexpr uint8_t kTxmMagic[4] = {0x00, 0x02, 0x00, 0x00};

bool ShortLayout(const ArchiveHeader& header) { return header.flags == kFlagsShortLayout; }

size_t NameFieldStart(const ArchiveHeader& header) { return ShortLayout(header) ? 8 : 12; }

bool EntrySizeSupported(const ArchiveHeader& header) {
  // The fields before the name must all be there: a partial size field has
  // no meaning.
  if (ShortLayout(header)) return header.entrySize >= 8;
  return header.entrySize == 8 || header.entrySize >= 12;
}

std::string TextUpToZero(ByteSpan bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
  return std::string(bytes.begin(), end);
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The text of a name after its first '.', where the long layouts keep a kind
// ("TXM", "SPV").
std::string_view KindOf(const std::string& name) {
  const size_t dot = name.find('.');
  return dot == std::string::npos ? std::string_view() : std::string_view(name).substr(dot + 1);
}

// The extension field of a 20-byte entry: its first four bytes, up to a zero.
std::string ExtensionOf(const ArchiveEntry& entry) { return entry.name.substr(0, 4); }

// Reads the zero-terminated string at `offset`, piece by piece, so that a
// long or unterminated string costs no more than the archive holds.
bool ReadNameString(const ByteSource& archive, uint32_t offset, const std::string& label, std::string& out) {
  out.clear();
  uint64_t at = offset;
  if (at >= archive.length) {
    Printf("\nERROR: %s: FPS4 name string at 0x%X lies outside the archive", label.c_str(), offset);
    return false;
  }
  Bytes piece;
  while (at < archive.length && out.size() < kLongestNameString) {
    const uint64_t count = std::min<uint64_t>(kNameChunk, archive.length - at);
    if (!archive.Read(at, count, piece)) break;
    const auto zero = std::find(piece.begin(), piece.end(), uint8_t(0));
    out.append(piece.begin(), zero);
    if (zero != piece.end()) return true;
    at += count;
  }
  Printf("\nERROR: %s: FPS4 name string at 0x%X has no terminating zero%s", label.c_str(), offset,
         out.size() >= kLongestNameString ? " in its first 4 KiB" : "");
  return false;
}

}  // namespace

// Continuation marks exist only where the entry has no size of its own.
bool HasContinuationMarks(const ArchiveHeader& header) { return header.entrySize == 8 && !ShortLayout(header); }

uint32_t ArchiveAlignment(const ArchiveHeader& header) {
  if (ShortLayout(header)) return 1;
  return header.alignmentHint > kDefaultAlignment ? header.alignmentHint : kDefaultAlignment;
}

uint32_t CopyLength(const ArchiveTable& table, const ArchiveEntry& entry) {
  if (table.header.entrySize == 8 || ShortLayout(table.header)) return entry.size;
  // A padded size below the size would cut the member the unpacker read whole.
  return std::max(entry.paddedSize, entry.size);
}

bool HasMagic(ByteSpan bytes, const char* magic) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), magic, 4) == 0;
}

bool ParseArchiveHeader(ByteSpan bytes, ArchiveHeader& header) {
  ByteReader reader(bytes);
  reader.Skip(4);
  header.entryCount = reader.U32BE();
  header.word8 = reader.U32BE();
  header.dataStart = reader.U32BE();
  header.entrySize = reader.U16BE();
  header.flags = reader.U16BE();
  header.alignmentHint = reader.U16LE();
  reader.Skip(2);
  header.typeOffset = reader.U32BE();
  return reader.ok();
}

std::vector<size_t> ComputeEightByteSizes(std::vector<ArchiveEntry>& entries, uint64_t archiveLength) {
  // Offset 0 and offset 0xFFFFFFFF both mean that the entry has no data.
  auto noData = [](const ArchiveEntry& entry) { return entry.offset == 0 || entry.offset == kNoMember; };
  std::vector<size_t> bad;
  size_t i = 0;
  while (i < entries.size()) {
    ArchiveEntry& entry = entries[i];
    if (noData(entry)) {
      entry.size = 0;
      ++i;
      continue;
    }
    size_t next = i + 1;
    while (next < entries.size() && entries[next].paddedSize == kContinuationMark) {
      entries[next].size = 0;
      ++next;
    }
    // Entries without data do not end a member: it reaches to the next entry
    // that has data.
    size_t following = next;
    while (following < entries.size() && noData(entries[following])) ++following;
    const uint64_t end = following < entries.size() ? entries[following].offset : archiveLength;
    if (end < entry.offset || end - entry.offset > UINT32_MAX) {
      entry.size = 0;
      bad.push_back(i);
    } else {
      entry.size = uint32_t(end - entry.offset);
    }
    i = next;
  }
  return bad;
}

std::string ResolveNameString(std::string_view text) {
  if (!StartsWith(text, kNamePrefix)) return std::string(text);
  text.remove_prefix(std::strlen(kNamePrefix));
  return std::string(text.substr(0, text.find(' ')));
}

bool ReadArchiveTable(const ByteSource& archive, const std::string& baseName, const std::string& label,
                      ArchiveTable& table) {
  table = ArchiveTable();
  table.length = archive.length;
  const char* where = label.c_str();
  Bytes bytes;
  if (!archive.Read(0, kArchiveHeaderSize, bytes) || !ParseArchiveHeader(bytes, table.header)) {
    Printf("\nERROR: %s: truncated FPS4 header", where);
    return false;
  }
  const ArchiveHeader& header = table.header;
  if (header.entryCount == 0) {
    Printf("\nERROR: %s: FPS4 entry count is 0", where);
    return false;
  }
  if (!EntrySizeSupported(header)) {
    Printf("\nERROR: %s: unsupported FPS4 entry size %u", where, unsigned(header.entrySize));
    return false;
  }
  const uint64_t count = uint64_t(header.entryCount) - 1;
  const uint64_t tableLength = count * header.entrySize;
  if (!archive.Read(kArchiveTableOffset, tableLength, bytes)) {
    Printf("\nERROR: %s: truncated FPS4 entry table (%u entries of %u bytes)", where, header.entryCount,
           unsigned(header.entrySize));
    return false;
  }

  const size_t nameStart = NameFieldStart(header);
  std::vector<uint32_t> namePointers;
  table.entries.resize(size_t(count));
  ByteReader reader(bytes);
  for (ArchiveEntry& entry : table.entries) {
    const ByteSpan raw = reader.Span(header.entrySize);
    ByteReader fields(raw);
    entry.offset = fields.U32BE();
    if (!ShortLayout(header)) entry.paddedSize = fields.U32BE();
    if (header.entrySize >= 12 || ShortLayout(header)) entry.size = fields.U32BE();
    const ByteSpan nameField = raw.size() > nameStart ? raw.subspan(nameStart) : ByteSpan();
    entry.name = TextUpToZero(nameField);
    if (header.entrySize == 16) namePointers.push_back(nameField.size() >= 4 ? LoadU32BE(nameField.data()) : 0);
  }
  if (!reader.ok()) {  // cannot happen: the table was read whole above
    Printf("\nERROR: %s: truncated FPS4 entry table", where);
    return false;
  }

  table.typeString = "bin";
  if (header.typeOffset != 0) {
    if (!archive.Read(header.typeOffset, 4, bytes)) {
      Printf("\nERROR: %s: FPS4 type string at 0x%X lies outside the archive", where, header.typeOffset);
      return false;
    }
    table.typeString = TextUpToZero(bytes);
    table.stringsEnd = uint64_t(header.typeOffset) + 4;
  }

  if (HasContinuationMarks(header)) {
    // Only the members without a size are lost; the others are still sound.
    table.damaged = ComputeEightByteSizes(table.entries, archive.length);
    for (const size_t bad : table.damaged) {
      Printf("\nERROR: %s: FPS4 entry %zu at 0x%X lies beyond the entry after it", where, bad,
             table.entries[bad].offset);
    }
  }
  // Entries that share a name string read it once.
  std::unordered_map<uint32_t, std::string> names;
  for (size_t i = 0; i < namePointers.size(); ++i) {
    const uint32_t pointer = namePointers[i];
    if (pointer == 0) {
      table.entries[i].name = baseName;
      continue;
    }
    auto known = names.find(pointer);
    if (known == names.end()) {
      std::string text;
      if (!ReadNameString(archive, pointer, label, text)) return false;
      table.stringsEnd = std::max<uint64_t>(table.stringsEnd, uint64_t(pointer) + text.size() + 1);
      known = names.emplace(pointer, ResolveNameString(text)).first;
    }
    table.entries[i].name = known->second;
  }
  return true;
}

bool MembersOverlap(const ArchiveEntry& a, const ArchiveEntry& b) {
  return uint64_t(a.offset) < uint64_t(b.offset) + b.size && uint64_t(b.offset) < uint64_t(a.offset) + a.size;
}

bool NestedMembers::Overlaps(const ArchiveEntry& entry) const {
  const uint64_t end = uint64_t(entry.offset) + entry.size;
  if (entry.size == 0) return false;
  // The only candidate is the last range that starts before this member ends.
  auto after = ranges_.lower_bound(end);
  if (after == ranges_.begin()) return false;
  --after;
  return after->second > entry.offset;
}

void NestedMembers::Add(const ArchiveEntry& entry) {
  if (entry.size != 0) ranges_[entry.offset] = uint64_t(entry.offset) + entry.size;
}

bool IsSkippedEntry(const ArchiveTable& table, size_t i) {
  const uint32_t offset = table.entries[i].offset;
  return offset == kNoMember || (ShortLayout(table.header) && offset == 0);
}

bool IsDamagedEntry(const ArchiveTable& table, size_t i) {
  // Listed in table order when the sizes were computed: a search, not a walk.
  return std::binary_search(table.damaged.begin(), table.damaged.end(), i);
}

bool IsTextureArchive(const ArchiveTable& table) {
  return table.typeString == kTextureArchiveType && table.header.flags == kFlagsTextureArchive;
}

std::string MemberFileName(const ArchiveTable& table, const std::string& baseName, size_t i) {
  const ArchiveEntry& entry = table.entries[i];
  char index[16];
  std::snprintf(index, sizeof index, "_%03zu.", i);
  std::string name;
  switch (table.header.entrySize) {
    case 8:
    case 12:
      name = baseName + index + table.typeString;
      break;
    case 16:
      name = FileNameOf(entry.name) + index + "cmp";
      break;
    case 20: {
      const std::string extension = ExtensionOf(entry);
      name = baseName + index + (extension.empty() ? std::string("prt") : extension);
      break;
    }
    default:
      name = entry.name;
      break;
  }
  // Both separators divide a name from the game's files; on disk it is '/'.
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string NameMember(const std::string& unpackDirectory, const ArchiveTable& table,
                       const std::string& baseName, size_t i) {
  return JoinPath(unpackDirectory, MemberFileName(table, baseName, i));
}

bool SniffMember(const uint8_t* head, const ArchiveTable& table, size_t i, std::string& fileName) {
  const ArchiveHeader& header = table.header;
  const ArchiveEntry& entry = table.entries[i];
  const bool last = i + 1 == table.entries.size();
  const ArchiveEntry* next = last ? nullptr : &table.entries[i + 1];

  bool mark = false;
  bool contentTest = header.entrySize < 20;
  if (header.entrySize == 20) {
    const std::string extension = ExtensionOf(entry);
    mark = StartsWith(extension, "TEX");
    contentTest = extension.empty();
  } else if (header.entrySize > 20) {
    mark = StartsWith(KindOf(entry.name), "TXM");
  }

  if (contentTest) {
    uint8_t first[4] = {0, 0, 0, 0};
    if (entry.size != 0) std::memcpy(first, head, 4);
    auto rename = [&](const char* extension) { fileName = StripExtension(fileName) + extension; };
    auto eight = [&](const char* text, size_t length) {
      return std::memcmp(head, text, length) == 0 && std::all_of(head + length, head + 8, [](uint8_t b) { return b == 0; });
    };
    if (std::memcmp(first, kTxmMagic, 4) == 0) {
      const uint32_t version = LoadU32BE(head + 8);
      if (LoadU32BE(head + 4) == entry.size && (version == 1 || version == 4 || version == 10 || version == 16)) {
        rename(".TXM");
        const bool continued = next != nullptr && HasContinuationMarks(header) && next->paddedSize == kContinuationMark;
        mark = !last && !continued;
      }
    } else if (std::memcmp(head, "Z6BTEMEG", 8) == 0) {
      rename(".Z6BTEMEG");
    } else if (eight("ZK6CHTX", 7)) {
      rename(".ZK6CHTX");
    } else if (eight("COOKDAT", 7)) {
      rename(".COOKDAT");
    } else if (eight("Z6BTBG", 6)) {
      rename(".Z6BTBG");
    } else if (eight("Z6BTVA", 6)) {
      rename(".Z6BTVA");
    } else if (eight("ZK6CHL", 6)) {
      rename(".ZK6CHL");
    } else if (std::memcmp(first, "Z6BT", 4) == 0) {
      rename(".Z6BT");
    } else if (std::memcmp(first, "SE3 ", 4) == 0) {
      rename(".SE3");
    } else if (std::memcmp(first, "SWG\0", 4) == 0) {
      rename(".SWG");
    } else if (std::memcmp(first, "TSS\0", 4) == 0) {
      rename(".TSS");
    }
  }

  if (mark && header.entrySize == 20 && next != nullptr && StartsWith(ExtensionOf(*next), "DMY")) mark = false;
  return mark && !last;
}

uint64_t ClaimedTlzcSize(const ByteSource& container) {
  uint8_t headerBytes[kTlzcHeaderSize];
  container.Peek(0, headerBytes, sizeof headerBytes);
  TlzcHeader header;
  ParseTlzcHeader(ByteSpan(headerBytes, std::min<uint64_t>(container.length, sizeof headerBytes)), header);
  return header.uncompressedSize;
}

bool IsCompressedMember(const uint8_t* head, const ArchiveEntry& entry) {
  return entry.size >= 4 && std::memcmp(head, kTlzcMagic, 4) == 0;
}

TexturePairing PairTexture(const ArchiveTable& table, size_t i) {
  const std::vector<ArchiveEntry>& entries = table.entries;
  // A pair needs a data member: an entry without one (offset 0xFFFFFFFF, or
  // 0 with flags 0x8D) or without a size after the header leaves the header a
  // plain member.
  auto hasNoMember = [&](size_t k) { return IsSkippedEntry(table, k) || IsDamagedEntry(table, k); };
  if (i + 1 >= entries.size() || hasNoMember(i + 1)) return TexturePairing::kPlain;
  if (table.header.entrySize > 20 && StartsWith(KindOf(entries[i + 1].name), "SPV")) {
    return i + 2 < entries.size() && !hasNoMember(i + 2) ? TexturePairing::kPairAfterSpv : TexturePairing::kPlain;
  }
  return TexturePairing::kPair;
}

TexturePairing MemberPairing(const ArchiveTable& table, size_t i, bool marked, bool compressed) {
  if (compressed || !(marked || IsTextureArchive(table))) return TexturePairing::kPlain;
  return PairTexture(table, i);
}

bool OpenArchiveFile(const std::string& path, OpenedArchive& opened) {
  opened.file = OpenFile(path, "rb");
  uint64_t length = 0;
  if (!opened.file || !FileLength(opened.file.get(), length)) {
    Printf("\nCan't open %s", path.c_str());
    return false;
  }
  opened.bare = ByteSource::InFile(opened.file.get(), 0, length);
  uint8_t magic[4];
  opened.bare.Peek(0, magic, sizeof magic);
  if (length >= 4 && std::memcmp(magic, kTlzcMagic, 4) == 0) {
    if (!opened.bare.Read(0, length, opened.container)) {
      Printf("\nCan't open %s", path.c_str());
      return false;
    }
    opened.file.reset();  // all in memory now; Windows replaces no file that is open
    opened.wrapped = true;
    opened.complete = ReportTlzcDecode(DecompressTlzc(opened.container, opened.archive));
    if (!HasMagic(opened.archive, kArchiveMagic)) {
      Print("\nERROR: Not a FPS4 archive");
      return false;
    }
    return true;
  }
  if (length < 4 || std::memcmp(magic, kArchiveMagic, 4) != 0) {
    Print("\nERROR: Not a FPS4 archive");
    return false;
  }
  opened.complete = true;
  return true;
}

}  // namespace fpskit

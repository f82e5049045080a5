#include "archive/format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "compress/tlzc.h"
#include "util/paths.h"

namespace fpskit {
namespace {

constexpr char kNamePrefix[] = "name=";
// Name strings are read in pieces of this size until their zero byte.
constexpr size_t kNameChunk = 256;
constexpr std::string_view kTxmMagic("\0\2\0\0", 4);

bool ShortLayout(const ArchiveHeader& header) { return header.flags == kFlagsShortLayout; }

size_t NameFieldStart(const ArchiveHeader& header) { return ShortLayout(header) ? 8 : 12; }

bool EntrySizeSupported(const ArchiveHeader& header) {
  // The fields before the name must all be there: a partial size field has
  // no meaning.
  if (ShortLayout(header)) return header.entrySize >= 8;
  return header.entrySize == 8 || header.entrySize >= 12;
}

// The text of a fixed-size field: up to its first zero byte, or all of it
// when it has none. The second form says whether a zero ended it.
std::string FieldText(ByteSpan field, bool& terminated) {
  ByteSpan text;
  terminated = TerminatedStringAt(field, 0, text);
  if (!terminated) text = field;
  return std::string(text.begin(), text.end());
}
std::string FieldText(ByteSpan field) {
  bool terminated = false;
  return FieldText(field, terminated);
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
ArchiveError ReadNameString(const ByteSource& archive, uint32_t offset, std::string& out) {
  out.clear();
  uint64_t at = offset;
  if (at >= archive.length) return ArchiveError::kNameStringOutside;
  Bytes piece;
  while (at < archive.length && out.size() < kLongestNameString) {
    const uint64_t count = std::min<uint64_t>(kNameChunk, archive.length - at);
    if (!archive.Read(at, count, piece)) break;
    bool terminated = false;
    out += FieldText(piece, terminated);
    if (terminated) return ArchiveError::kNone;
    at += count;
  }
  return out.size() >= kLongestNameString ? ArchiveError::kNameStringTooLong : ArchiveError::kNameStringUnterminated;
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

ArchiveFailure ParseArchiveTable(const ByteSource& archive, const std::string& baseName, ArchiveTable& table) {
  table = ArchiveTable();
  table.length = archive.length;
  Bytes bytes;
  if (!archive.Read(0, kArchiveHeaderSize, bytes) || !ParseArchiveHeader(bytes, table.header)) {
    return {ArchiveError::kTruncatedHeader};
  }
  const ArchiveHeader& header = table.header;
  ArchiveFailure failure{ArchiveError::kNone, 0, header.entryCount, header.entrySize};
  auto fail = [&failure](ArchiveError error, uint32_t offset = 0) {
    failure.error = error;
    failure.offset = offset;
    return failure;
  };
  if (header.entryCount == 0) return fail(ArchiveError::kNoEntries);
  if (!EntrySizeSupported(header)) return fail(ArchiveError::kUnsupportedEntrySize);
  const uint64_t tableLength = (uint64_t(header.entryCount) - 1) * header.entrySize;
  if (!archive.Read(kArchiveTableOffset, tableLength, bytes)) return fail(ArchiveError::kTruncatedTable);

  // The table was read whole: it holds exactly one field set per entry.
  const size_t nameStart = NameFieldStart(header);
  std::vector<uint32_t> namePointers;
  table.entries.resize(bytes.size() / header.entrySize);
  ByteReader reader(bytes);
  for (ArchiveEntry& entry : table.entries) {
    const ByteSpan raw = reader.Span(header.entrySize);
    ByteReader fields(raw);
    entry.offset = fields.U32BE();
    if (!ShortLayout(header)) entry.paddedSize = fields.U32BE();
    if (header.entrySize >= 12 || ShortLayout(header)) entry.size = fields.U32BE();
    // The entry's bytes from the name field on; none in 8-byte entries.
    const ByteSpan name = raw.subspan(std::min(nameStart, raw.size()));
    entry.name = FieldText(name);
    if (header.entrySize == 16) namePointers.push_back(ByteReader(name).U32BE());
  }

  table.typeString = "bin";
  if (header.typeOffset != 0) {
    if (!archive.Read(header.typeOffset, 4, bytes)) return fail(ArchiveError::kTypeStringOutside, header.typeOffset);
    table.typeString = FieldText(bytes);
    table.stringsEnd = uint64_t(header.typeOffset) + 4;
  }

  // Only the members without a size are lost; the others are still sound.
  if (HasContinuationMarks(header)) table.damaged = ComputeEightByteSizes(table.entries, archive.length);
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
      const ArchiveError error = ReadNameString(archive, pointer, text);
      if (error != ArchiveError::kNone) return fail(error, pointer);
      table.stringsEnd = std::max<uint64_t>(table.stringsEnd, uint64_t(pointer) + text.size() + 1);
      known = names.emplace(pointer, ResolveNameString(text)).first;
    }
    table.entries[i].name = known->second;
  }
  return ArchiveFailure();
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

MemberHead PeekMemberHead(const ByteSource& archive, const ArchiveEntry& entry) {
  MemberHead head{};
  archive.Peek(entry.offset, head.data(), head.size());
  return head;
}

bool SniffMember(const MemberHead& head, const ArchiveTable& table, size_t i, std::string& fileName) {
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
    // An empty member has no magic, whatever bytes follow its offset.
    MemberHead first{};
    if (entry.size != 0) std::copy_n(head.begin(), 4, first.begin());
    ByteReader fields(head);
    fields.Skip(4);
    const uint32_t length = fields.U32BE();
    const uint32_t version = fields.U32BE();
    auto starts = [](const MemberHead& bytes, std::string_view magic) {
      return std::equal(magic.begin(), magic.end(), bytes.begin());
    };
    auto rename = [&](const char* extension) { fileName = StripExtension(fileName) + extension; };
    // Eight bytes: the text, then zeros.
    auto eight = [&](std::string_view text) {
      return starts(head, text) &&
             std::all_of(head.begin() + text.size(), head.begin() + 8, [](uint8_t b) { return b == 0; });
    };
    if (starts(first, kTxmMagic)) {
      if (length == entry.size && (version == 1 || version == 4 || version == 10 || version == 16)) {
        rename(".TXM");
        const bool continued = next != nullptr && HasContinuationMarks(header) && next->paddedSize == kContinuationMark;
        mark = !last && !continued;
      }
    } else if (starts(head, "Z6BTEMEG")) {
      rename(".Z6BTEMEG");
    } else if (eight("ZK6CHTX")) {
      rename(".ZK6CHTX");
    } else if (eight("COOKDAT")) {
      rename(".COOKDAT");
    } else if (eight("Z6BTBG")) {
      rename(".Z6BTBG");
    } else if (eight("Z6BTVA")) {
      rename(".Z6BTVA");
    } else if (eight("ZK6CHL")) {
      rename(".ZK6CHL");
    } else if (starts(first, "Z6BT")) {
      rename(".Z6BT");
    } else if (starts(first, "SE3 ")) {
      rename(".SE3");
    } else if (starts(first, std::string_view("SWG\0", 4))) {
      rename(".SWG");
    } else if (starts(first, std::string_view("TSS\0", 4))) {
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

bool IsCompressedMember(const MemberHead& head, const ArchiveEntry& entry) {
  return entry.size >= 4 && HasMagic(head, kTlzcMagic);
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

}  // namespace fpskit

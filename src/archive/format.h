// FPS4 archives, the game's container of files.
//
// A 28-byte header, a table of fixed-size entries directly after it, optional
// strings (the type string, the names of 16-byte tables), then the members'
// data. All numbers are big-endian, except the alignment hint at header
// offset 20, which is little-endian. The table has `entryCount` entries; the
// last one closes the table and describes no member.
//
// The entry layout depends on `entrySize` and `flags`:
//   flags 0x8D: offset (0), size (4), name (8 to the entry's end); offset 0 = no member
//   8 bytes:    offset (0), continuation mark (4; 1 = the entry continues the member before it)
//   12 bytes:   offset (0), paddedSize (4), size (8)
//   16 bytes:   as 12, then a pointer to a name string (12; 0 = none)
//   20 bytes:   as 12, then an extension of up to four characters (12) and four unused bytes
//   other:      as 12, then the member name (12 to the entry's end)
// An offset of 0xFFFFFFFF marks an entry without a member in every layout.
//
// The unpacker names every member from its entry and its first bytes
// (MemberFileName, SniffMember, gathered in the member plan of
// archive/plan.h); the repacker finds each member's file under that same
// name, so these names must never change.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "compress/tlzc.h"
#include "util/byte_source.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kArchiveHeaderSize = 28;
inline constexpr size_t kArchiveTableOffset = 28;
inline constexpr char kArchiveMagic[] = "FPS4";
inline constexpr uint16_t kFlagsShortLayout = 0x8D;
inline constexpr uint16_t kFlagsTextureArchive = 7;
inline constexpr char kTextureArchiveType[] = "txmv";
inline constexpr uint32_t kNoMember = 0xFFFFFFFF;
inline constexpr uint32_t kContinuationMark = 1;
inline constexpr uint32_t kDefaultAlignment = 2048;
// Bytes of a member that naming looks at: the content tests read 8, the
// texture test 12.
inline constexpr size_t kMemberHeadSize = 12;
// Name strings of 16-byte tables are read up to this length at most.
inline constexpr size_t kLongestNameString = 4096;

// A member's first kMemberHeadSize bytes (zero where the archive ends first).
using MemberHead = std::array<uint8_t, kMemberHeadSize>;

struct ArchiveHeader {
  uint32_t entryCount = 0;     // at 4: table entries, the closing one included
  uint32_t word8 = 0;          // at 8: not interpreted
  uint32_t dataStart = 0;      // at 12: end of the header, table and strings
  uint16_t entrySize = 0;      // at 16
  uint16_t flags = 0;          // at 18
  uint16_t alignmentHint = 0;  // at 20, little-endian
  uint32_t typeOffset = 0;     // at 24: the 4-byte type string; 0 = none ("bin")
};

// One table entry as both tools work with it.
struct ArchiveEntry {
  uint32_t offset = 0;      // entry offset 0
  uint32_t paddedSize = 0;  // entry offset 4 (none with flags 0x8D); the continuation mark in 8-byte tables
  uint32_t size = 0;        // entry offset 8 (4 with flags 0x8D); computed for 8-byte tables
  // The entry's bytes from 12 (8 with flags 0x8D) up to its first zero byte;
  // for 16-byte tables the resolved name string instead.
  std::string name;
};

struct ArchiveTable {
  ArchiveHeader header;
  std::string typeString;             // at most 4 characters, "bin" when there is none
  std::vector<ArchiveEntry> entries;  // every entry but the closing one, in table order
  uint64_t length = 0;                // of the archive
  // Entries of 8-byte tables whose member ends before it begins (its offset
  // lies beyond the next entry's): size 0, in table order. The tools report
  // each; the other members are sound.
  std::vector<size_t> damaged;
  // The end of the type string and of the name strings (0 when there are
  // none): the repacker copies only the bytes before `dataStart`.
  uint64_t stringsEnd = 0;
};

// True when the bytes begin with this 4-byte magic.
bool HasMagic(ByteSpan bytes, const char* magic);

// Reads the 28-byte header. False when the bytes are too short.
bool ParseArchiveHeader(ByteSpan bytes, ArchiveHeader& header);

// What makes an archive's header, table or strings unreadable, and what the
// message about it needs.
enum class ArchiveError {
  kNone,
  kTruncatedHeader,          // fewer than 28 bytes
  kNoEntries,                // an entry count of 0
  kUnsupportedEntrySize,     // `entrySize` cannot hold the fields before the name
  kTruncatedTable,           // `entryCount` entries of `entrySize` bytes reach past the archive
  kTypeStringOutside,        // the type string at `offset` lies outside the archive
  kNameStringOutside,        // the name string at `offset` lies outside the archive
  kNameStringUnterminated,   // the name string at `offset` has no zero before the archive's end
  kNameStringTooLong,        // ... nor in its first kLongestNameString bytes
};

struct ArchiveFailure {
  ArchiveError error = ArchiveError::kNone;
  uint32_t offset = 0;      // of the type or name string
  uint32_t entryCount = 0;  // as the header claims it
  uint16_t entrySize = 0;
  bool ok() const { return error == ArchiveError::kNone; }
};

// Parses the header, the table and the strings of an archive that begins
// with "FPS4", with the sizes of 8-byte tables and the names of 16-byte
// tables resolved (a name pointer of 0 gives `baseName`). Everything is
// checked against the archive's length first. Returns the failure that makes
// the archive unreadable (a header or table that does not fit, an entry count
// of 0, an entry size the table cannot hold, a type or name string outside
// the archive or without a terminating zero); the table is then incomplete.
// An 8-byte table entry whose offset lies beyond the next one's loses only
// that entry: it is listed in `damaged` and the table is read.
ArchiveFailure ParseArchiveTable(const ByteSource& archive, const std::string& baseName, ArchiveTable& table);

// Gives entries of 8-byte tables their sizes from the offsets: a member
// reaches over any run of continuation entries after it (which get size 0)
// to the offset of the next entry with data, or to the archive's end.
// Entries with offset 0 or 0xFFFFFFFF have no data and size 0. Returns the
// entries whose size would be negative or beyond 32 bits; they get size 0.
std::vector<size_t> ComputeEightByteSizes(std::vector<ArchiveEntry>& entries, uint64_t archiveLength);

// The name of a 16-byte table's member from its name string: the text after
// "name=" up to the first space when it begins so, otherwise the whole string.
std::string ResolveNameString(std::string_view text);

// True when the two members' bytes share at least one byte. Both tools
// follow a member into a nested archive only when it overlaps no member they
// followed before in the same archive: the members of a hostile archive can
// overlap (a member at offset 0 is the archive itself again), and two such
// members at every level would double the work at every level.
bool MembersOverlap(const ArchiveEntry& a, const ArchiveEntry& b);

// The members of one archive that a tool followed into nested archives,
// which overlap each other nowhere: whether a member overlaps any of them is
// a lookup by offset, not a walk over them all.
class NestedMembers {
 public:
  // True when the member shares a byte with a member added before.
  bool Overlaps(const ArchiveEntry& entry) const;
  void Add(const ArchiveEntry& entry);

 private:
  std::map<uint64_t, uint64_t> ranges_;  // start -> end of each member
};

// True for entries that describe no member (offset 0xFFFFFFFF, or offset 0
// with flags 0x8D): both tools pass over them.
bool IsSkippedEntry(const ArchiveTable& table, size_t i);

// True for the entries listed in `damaged`.
bool IsDamagedEntry(const ArchiveTable& table, size_t i);

bool IsTextureArchive(const ArchiveTable& table);

// The member's file name inside the unpack directory, before the content test
// (which may change its extension): "<base>_<iii>.<type>" for 8- and 12-byte
// tables, "<name after its last separator>_<iii>.cmp" for 16-byte tables,
// "<base>_<iii>.<extension or prt>" for 20-byte tables, the entry's name for
// any other size. Separators in it are '/'.
std::string MemberFileName(const ArchiveTable& table, const std::string& baseName, size_t i);

// The member's path: the unpack directory and MemberFileName.
std::string NameMember(const std::string& unpackDirectory, const ArchiveTable& table,
                       const std::string& baseName, size_t i);

// The member's first bytes.
MemberHead PeekMemberHead(const ByteSource& archive, const ArchiveEntry& entry);

// Applies the content tests to the member's first bytes and the texture
// rules of its entry: renames `fileName` to the extension the content shows,
// and returns whether the member is the header of a texture pair (the
// texture mark).
bool SniffMember(const MemberHead& head, const ArchiveTable& table, size_t i, std::string& fileName);

// True when the member is stored in a TLZC container: its first four bytes
// are "TLZC" (a member shorter than a magic holds none).
bool IsCompressedMember(const MemberHead& head, const ArchiveEntry& entry);

// The uncompressed size that the TLZC header at the start of `container`
// claims (0 when the container is too short to hold a header).
uint64_t ClaimedTlzcSize(const ByteSource& container);

// How a marked member (or any member of a texture archive) pairs with the
// entries after it. A member whose data member would be an entry without a
// member is plain.
enum class TexturePairing {
  kPair,          // entry i and entry i + 1 form the pair
  kPairAfterSpv,  // entry i + 1 is an "SPV" member: the data member is entry i + 2
  kPlain,         // no pair: the member is handled as a plain one
};
TexturePairing PairTexture(const ArchiveTable& table, size_t i);

// How both tools handle member i, given its texture mark and whether it is
// compressed: a compressed member is always plain; a marked member, or any
// member of a texture archive, pairs as PairTexture says. The "SPV" member
// of a kPairAfterSpv pair is handled with the pair, as a plain member, and
// never asked about on its own.
TexturePairing MemberPairing(const ArchiveTable& table, size_t i, bool marked, bool compressed);

// The alignment of members in the rebuilt archive: the header's hint when it
// is above 2048, else 2048; 1 with flags 0x8D.
uint32_t ArchiveAlignment(const ArchiveHeader& header);

// The bytes a whole member occupies where members are moved as they stand
// (texture pairs): its paddedSize (its size when that is larger), or its
// size in 8-byte tables and with flags 0x8D.
uint32_t CopyLength(const ArchiveTable& table, const ArchiveEntry& entry);

// True for 8-byte tables, whose entries carry continuation marks instead of
// sizes.
bool HasContinuationMarks(const ArchiveHeader& header);

}  // namespace fpskit

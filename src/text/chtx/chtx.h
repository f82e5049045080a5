// ZK6CHTX chat text: the file format and the record list shared by the dump
// and the insertion of the "uncht" / "cht" / "cht_switch" tools
// (tools/text/chtx_tool.h).
//
// A chat file is a 32-byte big-endian header, a table of 16-byte entries and a
// string area. Each entry holds three offsets into the string area (a plain
// string, the "[JP]" string and the "[EN]" string) and a fourth value that is
// kept as read. Entries share a string by pointing at the same offset. The
// dump lists the leading string (offset 0) and then every entry's three
// strings, converted through "JPCODES.TXT"; it is read back by position, line
// by line, so its layout is fixed:
//
//   leading string
//   (empty line)
//   plain string of entry 0
//   [JP]: second string of entry 0
//   [EN]: third string of entry 0
//   (empty line, except after the last entry)
//   ...
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kChtxHeaderSize = 32;
inline constexpr size_t kChtxEntrySize = 16;
inline constexpr uint8_t kChtxMagic[8] = {'Z', 'K', '6', 'C', 'H', 'T', 'X', 0};
// The prefixes of the second and third line of every entry; insertion
// checks them, so that a line out of place is found.
inline constexpr std::string_view kJpPrefix = "[JP]: ";
inline constexpr std::string_view kEnPrefix = "[EN]: ";

struct ChtxHeader {
  // The header as read: the magic and the fields that are not interpreted
  // (bytes 16 to 19 and 24 to 31) are written back unchanged.
  std::array<uint8_t, kChtxHeaderSize> bytes{};
  uint32_t fileSize = 0;         // at 8: the string area ends here
  uint32_t entryCount = 0;       // at 12: N
  uint32_t stringAreaStart = 0;  // at 20: absolute offset of the string area
};

// One string of the file, in the order the dump lists them: record 0 is the
// leading string, records 3i+1, 3i+2, 3i+3 are entry i's plain, "[JP]" and
// "[EN]" strings.
struct StringRecord {
  int32_t offset = 0;       // relative to the string area
  int32_t length = 0;       // up to the next distinct string: its NUL and any padding included
  int32_t firstIndex = -1;  // the earliest record with the same offset, or -1
  int32_t slot = -1;        // index of the offset in ChtxFile::entryTable, -1 for record 0
};

struct ChtxFile {
  ChtxHeader header;
  // The entry table as 4 × N values: plain, "[JP]" and "[EN]" offsets, then
  // the fourth value of the entry.
  std::vector<uint32_t> entryTable;
  ByteSpan strings;  // the string area: stringAreaStart to fileSize, inside the parsed data
  std::vector<StringRecord> records;  // 3N + 1
};

// What can be wrong with a chat file, as ParseChtx finds it.
enum class ChtxError {
  kNone,
  kNotChtx,                  // the magic is not ZK6CHTX
  kTruncatedHeader,          // the data is shorter than the header
  kTruncatedTable,           // the table of `entryCount` entries ends at `tableEnd`, past the data
  kFileSizeBeyondData,       // fileSize lies past the end of the data
  kFileSizeTooLarge,         // fileSize is beyond the signed 32-bit offsets
  kStringAreaOverlapsTable,  // stringAreaStart lies before `tableEnd`
  kNoStringArea,             // stringAreaStart is not below fileSize
  kOffsetOutsideStringArea,  // entry `entry` names `offset`, beyond the `areaSize` bytes of the area
  kRebuiltTooLarge,          // BuildChtx: the new file would reach 2 GiB
};

struct ChtxFailure {
  ChtxError error = ChtxError::kNone;
  // The header's numbers and the data's size, as read.
  uint32_t fileSize = 0;
  uint32_t entryCount = 0;
  uint32_t stringAreaStart = 0;
  uint64_t tableEnd = 0;
  size_t dataSize = 0;
  // The entry whose string offset lies outside the string area.
  size_t entry = 0;
  uint32_t offset = 0;
  uint32_t areaSize = 0;
  bool ok() const { return error == ChtxError::kNone; }
};

// Reads the header and entry table and checks everything the tools rely on:
// the magic, a header and table inside the data, a file size and a string
// area inside the data, and every offset inside the string area. On success
// `chtx` refers into `data` and its record list is complete; otherwise the
// first of these that fails is the failure returned.
ChtxFailure ParseChtx(ByteSpan data, ChtxFile& chtx);

// The 3N + 1 records of an entry table (4 values per entry), with the
// shared strings found and the lengths measured against a string area of
// `areaSize` bytes. Records are ordered by offset (equal offsets in record
// order); each distinct string runs to the next distinct offset, the last one
// to the end of the area. Offsets must already be known to lie inside it.
std::vector<StringRecord> BuildStringRecords(const std::vector<uint32_t>& entryTable, uint32_t areaSize);

// The chat file of `chtx`'s header and entries around a new string area,
// `strings`, which starts right after the table: `records` are chtx's
// records with each offset and length set to its string in `strings`. With
// `share`, a record that shared an earlier record's string (firstIndex)
// points at that record's string; then, with `swap`, every entry's "[JP]"
// and "[EN]" strings are exchanged. The failure returned when the file would
// not parse again, its size beyond the signed 32-bit offsets.
ChtxFailure BuildChtx(const ChtxFile& chtx, std::vector<StringRecord> records, ByteSpan strings, bool share,
                      bool swap, Bytes& out);

// The line prefix of record m: "[JP]: ", "[EN]: " or nothing.
std::string_view ChtxRecordPrefix(size_t record);

// What the dump line of a record shows, and what insertion writes back
// after it.
struct ChtxRecordText {
  ByteSpan text;
  uint32_t padding = 0;      // zero bytes after the string's own zero, up to the next string
  bool zerosInText = false;  // `text` holds zero bytes, kept as they stand
};

// A record's text is its string up to its first zero byte; the zero bytes
// after that up to the next string (padding) stay out of the dump and are
// written back after the text, so that an unedited dump gives the file back
// byte for byte. When other bytes than zeros follow the first zero inside
// the record's span, the text is the whole span but its last byte, zero
// bytes included (`zerosInText`), as nothing else would write them back. A
// string that starts inside another, so that its span ends in no zero, runs
// on to its first zero byte.
ChtxRecordText ChtxRecordTextOf(ByteSpan strings, const StringRecord& record);

}  // namespace fpskit

// ZK6CHTX chat text: the file format, the record list shared by the dump and
// the insertion, and the "uncht" / "cht" / "cht_switch" tools.
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

#include "codetable/codetable.h"
#include "text/dump.h"
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

// Reads the header and entry table and checks everything the tools rely on:
// the magic, a header and table inside the data, a file size and a string
// area inside the data, and every offset inside the string area. On success
// `chtx` refers into `data` and its record list is complete; otherwise one
// message is printed ("\nNot a ZK6CHTX" for a wrong magic) and the result is
// false.
bool ParseChtx(ByteSpan data, ChtxFile& chtx);

// Reads the file at `path` whole into `data` and parses it; prints
// "\nCan't open <path>" when it cannot be read.
bool ReadChtxFile(const std::string& path, Bytes& data, ChtxFile& chtx);

// The 3N + 1 records of an entry table (4 values per entry), with the
// shared strings found and the lengths measured against a string area of
// `areaSize` bytes. Records are ordered by offset (equal offsets in record
// order); each distinct string runs to the next distinct offset, the last one
// to the end of the area. Offsets must already be known to lie inside it.
std::vector<StringRecord> BuildStringRecords(const std::vector<uint32_t>& entryTable, uint32_t areaSize);

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

// A record whose dump line needs the translator's care, and that line (from 1).
struct DumpedRecord {
  size_t record = 0;
  size_t line = 0;
};

struct ChtxDump {
  Bytes text;
  // Records whose converted text holds CR LF: the line is split in two, and
  // reading the dump back would take the second half for the next record.
  std::vector<DumpedRecord> splitRecords;
  // Records whose text holds zero bytes (ChtxRecordText::zerosInText), which
  // editors show, change or drop.
  std::vector<DumpedRecord> zeroRecords;
};

// The dump of every record in record order (shared strings at every record),
// converted through `gameCodes`, optionally behind a UTF-8 byte order mark.
// A record's text is ChtxRecordTextOf. So that the unedited dump writes back
// the same text, a dump whose text begins with the bytes EF BB BF gets the
// mark before it even without `byteOrderMark`.
ChtxDump BuildChtxDump(const ChtxFile& chtx, const CodeTable& gameCodes, bool byteOrderMark);

struct ChtxInsertion {
  bool share = false;  // records that shared an offset keep sharing the first one's text
  bool swap = false;   // exchange every entry's "[JP]" and "[EN]" strings
  TextLimitCheck* limits = nullptr;  // measures every text written, when given
};

// Rebuilds a chat file from the dump in `inputs`: every line converted back
// into game bytes through its tables, the strings packed in record order
// (each followed by its zero and the padding its record had), the offsets and
// the header rewritten. The dump is read by position, so its
// layout is checked first: every "[JP]" and "[EN]" line begins with exactly
// its prefix (or is the prefix alone without its final space: an empty
// text), every separator line is empty, and only empty lines follow the
// last entry (a line break typed inside a text or a changed prefix would put
// every later line in the wrong slot). False, with one message naming the
// dump's line, when the layout is broken (a line that breaks it, followed by
// one that fits its place, is named as the rest of the text before it, in
// which a line break was typed) or the dump has too few lines, or
// when the result would not fit the format's 32-bit offsets. With `share`, a
// later line of a shared string that differs from the first is warned about
// on standard error, as it is not written.
bool RebuildChtx(const ChtxFile& chtx, const InsertionInputs& inputs, const ChtxInsertion& insertion, Bytes& out);

// "uncht": writes StripExtension(path) + ".txt" beside the file; an option
// beginning with "utf8" puts a byte order mark first. True when the dump was
// written.
bool ExtractChtx(const std::string& path, const std::string& option);

// "cht" (swap clear) and "cht_switch" (swap set): rebuilds the file at `path`
// from its dump and replaces it safely. True when the file was replaced.
bool InsertChtx(const std::string& path, bool share, bool swap);

}  // namespace fpskit

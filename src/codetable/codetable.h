// Code tables: ordered rows that pair a byte sequence of the game's encoding
// (left column) with its text form (right column), and the conversion of byte
// strings through them.
//
// "JPCODES.TXT" pairs game bytes with text: extraction converts left to right,
// insertion right to left. "CODES.TXT" is applied on insertion only, left to
// right, before that step. A file that is found nowhere is replaced by the
// built-in table, which changes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codetable/lines.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr int kMaxSequenceLength = 100;
inline constexpr const char* kGameCodesFile = "JPCODES.TXT";
inline constexpr const char* kTranslatorCodesFile = "CODES.TXT";

struct CodeTableEntry {
  std::array<uint8_t, kMaxSequenceLength> leftBytes{};
  std::array<uint8_t, kMaxSequenceLength> rightBytes{};
  int32_t leftLength = 0;   // 1 to 100
  int32_t rightLength = 0;  // 1 to 100
};

// One row as the conversion sees it: where its source and target sequences
// lie in the table's byte pool, and their lengths.
struct CodeTableCandidate {
  uint32_t source = 0;
  uint32_t target = 0;
  uint8_t sourceLength = 0;
  uint8_t targetLength = 0;
};

// A lookup index over one column of a table: which row is the first to match
// at a position, found without trying the rows one by one.
//
// Rows whose source has one or two bytes are found by the two bytes at the
// position: `shortRow` keeps, for each pair, the first row whose source is
// that pair or its first byte alone (a one-byte row matches wherever its
// byte stands, so no later row starting with that byte is ever reached).
// Rows of three or more bytes are found by their first three bytes in a
// small hash table, in table order, keeping only those that come before the
// pair's short row.
struct CodeTableIndex {
  static constexpr uint32_t kNone = 0x7FFFFFFF;     // no row
  static constexpr uint32_t kHasLong = 0x80000000;  // flag in shortRow: longer rows start with the pair

  std::vector<CodeTableCandidate> rows;  // every row's candidate, by row number
  std::vector<uint32_t> shortRow;        // 65536 pairs: row number or kNone, and kHasLong
  std::array<uint32_t, 256> firstSingle{};  // first one-byte row per byte, or kNone
  // Open addressing over the three-byte prefixes of the longer rows: a
  // slot's key is the prefix + 1 (0: empty), its rows longRows[start, end).
  std::vector<uint32_t> longKey;
  std::vector<uint32_t> longStart;
  std::vector<uint32_t> longEnd;
  std::vector<uint32_t> longRows;  // row numbers
  // For the conversion loop, one load per position instead of three: per
  // pair, when the pair's row is all there is to know (no longer row starts
  // with it) and its target has at most 6 bytes, the target's length (bits
  // 0-7), the source's length (8-15) and the target's bytes (from bit 16, in
  // memory order on a little-endian machine); 0 sends the pair to FindRow.
  // Empty on other machines.
  std::vector<uint64_t> fastPair;
  // Per first byte, the source length that most of its pairs' fastPair
  // entries hold (1 when none has one). The conversion advances by it before
  // the pair's entry is loaded, and takes the entry only when its length
  // agrees, so the next position never waits for a load from the large table.
  std::array<uint8_t, 256> leadLength{};
};

// An index built the first time a conversion needs it: a dump uses only the
// left column's, an insertion one column's of each table, and an index costs
// about a megabyte of fresh memory. Copies of a table share it; building it
// once is safe from any thread.
struct LazyCodeTableIndex {
  std::once_flag built;
  CodeTableIndex index;
};

struct CodeTable {
  std::vector<CodeTableEntry> entries;  // in file order: the first matching row wins
  Bytes pool;                           // every row's left then right bytes, plus slack
  std::vector<uint32_t> rowOffsets;     // where each row's bytes begin in the pool
  std::shared_ptr<LazyCodeTableIndex> byLeft = std::make_shared<LazyCodeTableIndex>();
  std::shared_ptr<LazyCodeTableIndex> byRight = std::make_shared<LazyCodeTableIndex>();
  // The file the rows were loaded from, for messages; empty for a table built
  // in code, the built-in one among them.
  std::string name;
};

// Builds a table from rows in order (its indexes when a conversion needs them).
CodeTable MakeCodeTable(std::vector<CodeTableEntry> entries);

// The fallback: two identical rows 00 -> 00, so conversion changes no byte.
const CodeTable& BuiltInCodeTable();

// What is wrong with a code table file. The row errors name the first thing
// on the line that breaks "HH HH;<spaces or tabs>HH HH[;anything]".
enum class CodeTableError {
  kNone,
  kText,                 // not kept as CR LF text: see `text`
  kExpectedHexDigits,    // two hexadecimal digits were expected
  kColumnTooLong,        // more than 100 bytes in a column
  kExpectedSemicolon,    // no ';' after the left column
  kMissingRightColumn,   // the line ends after the ';'
  kExpectedBlank,        // no space or tab after the ';'
  kExpectedEndOfLine,    // neither ';' nor the end of the line after the right column
};

struct CodeTableFailure {
  CodeTableError error = CodeTableError::kNone;
  CrlfTextError text = CrlfTextError::kNone;  // for kText
  size_t line = 0;                            // the line, from 1, for the row errors
  bool ok() const { return error == CodeTableError::kNone; }
};

// Parses the text of a code table file into `table`, whose name becomes
// `name`. Lines end in CR LF (a missing last CR LF ends the last line at the
// end of the data); a leading UTF-8 byte order mark is skipped; blank lines
// are skipped; spaces and tabs at the end of a line are ignored. Each other
// line is "HH HH;<spaces or tabs>HH HH[;anything]" with at most 100 pairs a
// column. Returns the failure of the first line that breaks this, or of a
// text saved as UTF-16 or with LF line ends (CheckCrlfText); `table` is
// then left as it was.
CodeTableFailure ParseCodeTable(ByteSpan text, const std::string& name, CodeTable& table);

// Converts `content` (the string's bytes, without a terminating NUL) through
// the table. At every position the verbatim marker "<||>" is tested first and
// flips between converting and copying; while converting, the first row in
// table order whose source (left column, or right when `swap`) matches the
// bytes at that position wins and its target is emitted; otherwise the byte is
// copied. The result holds the converted bytes, without a terminating NUL.
Bytes ConvertSequences(ByteSpan content, bool swap, const CodeTable& table);

// ConvertSequences written into `out` from `at` on, for a caller that
// builds a long output record by record: `out` is lengthened as it is
// written (LengthenForWriting: reserve the likely total first) and never
// shrinks, and what lies past the returned end of the converted bytes is
// room, not output. The caller cuts `out` to its real end when it is done.
size_t ConvertSequencesInto(ByteSpan content, bool swap, const CodeTable& table, Bytes& out, size_t at);

// ConvertSequences that also lists, in `unconverted`, the positions in
// `content` of the bytes 80 to FF that were copied because no row matched
// there (outside verbatim text): bytes the table has no row for.
Bytes ConvertSequencesListingUnconverted(ByteSpan content, bool swap, const CodeTable& table,
                                         std::vector<size_t>& unconverted);

}  // namespace fpskit

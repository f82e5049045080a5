// SCFOMBIN text: a table of entries inside a section the game addresses by
// memory address, each entry pointing at four zero-terminated strings (two
// Japanese slots, two English slots). "unscf" dumps them, tagged with the file
// position of each entry's four pointers; "scf" and "scf_switch" append the
// edited strings to the file and repoint the tagged entries at them.
//
// All numbers are big-endian. Pointers are memory addresses: a non-zero
// pointer p stands for the file offset p + sectionOffset - sectionAddress
// (32-bit arithmetic); a pointer of 0 means the slot has no string.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codetable/codetable.h"
#include "text/dump.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kScfHeaderSize = 128;
inline constexpr size_t kScfSlotCount = 4;
inline constexpr size_t kScfPointersSize = 16;
// The entry table lies this far past sectionOffset, or kScfAlternateTableStart
// in the one file that holds kScfAlternateMarker at kScfAlternateMarkerOffset.
inline constexpr uint32_t kScfTableStart = 6280;
inline constexpr uint32_t kScfAlternateTableStart = 6988;
inline constexpr uint64_t kScfAlternateMinimumSize = 32768;  // the file must be longer than this
inline constexpr size_t kScfAlternateMarkerOffset = 31850;
inline constexpr const char* kScfAlternateMarker = "MUS_D24_XTM";
// The shorter entry form; it bounds the entry count from entryAreaEnd.
inline constexpr uint32_t kScfShortEntrySize = 20;
inline constexpr uint32_t kScfLongEntrySize = 24;

struct ScfHeader {
  uint32_t fileSize = 0;         // at 12: the file's length, rewritten by insertion
  uint32_t entryAreaEnd = 0;     // at 24: relative to sectionOffset, bounds the entry count
  uint32_t stringAreaStart = 0;  // at 32: absolute; entries lie before it
  uint32_t sectionOffset = 0;    // at 36: file offset of the section holding the table
  uint32_t sectionAddress = 0;   // at 80: memory address of that section; 0 = no text table
  uint64_t tableStart = 0;       // file offset of the first entry (derived)

  // A file without a text table has nothing to dump or patch, and nothing is
  // said about it.
  bool HasTextTable() const { return sectionAddress != 0; }
};

// What can be wrong with a SCFOMBIN file, or with the blocks written into it.
enum class ScfError {
  kNone,
  kNotScf,                 // the magic is not "SCFOMBIN"
  kTruncatedHeader,        // shorter than the 128-byte header
  kEntryAreaEndTooLow,     // `value`, the entry area end, is below 6280
  kTableBeyondFile,        // the entry table at `offset` lies beyond the end of the file
  kStringAreaBeyondFile,   // the string area at `offset` lies beyond the end of the file
  kTruncatedEntry,         // the entry at `offset` is cut off by the end of the file
  kUnterminatedString,     // the string at `offset`, of entry `tag`, has no terminating zero
  kTagOutsideTable,        // `tag` lies outside the entry table, from `offset` to `value`
  kTooLarge,               // the rebuilt file would grow beyond 4 GiB
};

struct ScfFailure {
  ScfError error = ScfError::kNone;
  uint64_t offset = 0;
  uint32_t value = 0;
  uint32_t tag = 0;
  bool ok() const { return error == ScfError::kNone; }
  static ScfFailure Of(ScfError error, uint64_t offset = 0, uint32_t value = 0, uint32_t tag = 0) {
    return ScfFailure{error, offset, value, tag};
  }
};

// Parses and checks the header of a whole SCFOMBIN file: a wrong magic, a
// file shorter than the header, and a header whose values make the entry
// table meaningless (entryAreaEnd below 6280, the table start or
// stringAreaStart beyond the end of the file) are failures. A header without
// a text table (HasTextTable) is not checked further.
ScfFailure ParseScfHeader(ByteSpan file, ScfHeader& header);

// One entry of the table as found in the file.
struct ScfRecord {
  uint32_t tag = 0;                               // file position of the four pointers
  std::array<uint32_t, kScfSlotCount> pointers{};  // as stored
  std::array<ByteSpan, kScfSlotCount> strings{};   // slot text inside the file, without its NUL
};

// Scans the entry table and resolves every slot's string. The scan ends
// quietly at the entry limit, when fewer than 16 bytes remain before
// stringAreaStart, at an entry whose four pointers do not all lie before
// stringAreaStart (insertion could not patch them), at an all-zero entry, or
// at an entry pointing beyond the file; a header without a text table has no
// entry. An entry cut off by the end of the file or a string without a
// terminating zero is a failure.
ScfFailure ParseScfEntries(ByteSpan file, const ScfHeader& header, std::vector<ScfRecord>& records);

// Where a dump stands while its blocks are appended: the number of its next
// line, and the slots whose converted text holds CR LF, which splits their
// line in two (insertion would refuse the block).
struct ScfDumpProgress {
  struct Split {
    uint32_t tag;
    size_t slot;
    size_t line;
  };
  size_t nextLine = 1;
  std::vector<Split> splits;
};

// Appends the dump block of one entry: four lines of a 15-character prefix
// and the slot's text converted through `gameCodes`, then an empty line.
void AppendScfBlock(Bytes& out, const ScfRecord& record, const CodeTable& gameCodes, ScfDumpProgress& progress);

// One block of an edited dump: the tag and the game bytes of each slot
// (without a NUL), already placed in slot order.
struct ScfBlock {
  uint32_t tag = 0;
  std::array<Bytes, kScfSlotCount> slots;
};

// What is wrong with a block of an edited SCF dump, or what it writes as it
// stands.
enum class ScfDumpError {
  kNone,
  kBrokenLines,    // the block's lines, or the line after it: see `lines`
  kUnknownTag,     // the block on `line` has `tag`, which is no entry of the file
  kUnconverted,    // not an error: `character` is written as it stands
};

struct ScfDumpProblem {
  ScfDumpError error = ScfDumpError::kNone;
  DumpFailure lines;               // kBrokenLines
  uint32_t tag = 0;                // kUnknownTag
  size_t line = 0;                 // kUnknownTag
  UnconvertedCharacter character;  // kUnconverted
};

// The blocks of an edited dump, and what was found on the way, in dump order.
struct ScfDump {
  std::vector<ScfBlock> blocks;
  std::vector<ScfDumpProblem> problems;
  // True when no problem stops the insertion (characters written as they
  // stand do not).
  bool ok() const;
};

// Parses the blocks of the dump in `inputs` (a leading byte order mark is
// skipped) and returns them with every problem found. A block starts at a
// line of at least 4 characters beginning with "[0" and is read with
// ParseTaggedBlock, which checks every line's prefix. Other lines are empty
// or notes, which are ignored; a note stands on a line of its own after an
// empty line, so a non-empty line right after a block's last line is refused
// as a line break typed inside its text. Lines 1 to 4 fill slots 0 to 3, or
// 2, 3, 0, 1 with `swap`. Each line's text after its prefix is converted with
// ConvertDumpLine. A block's tag must be one of `entryTags` (the tags that
// "unscf" writes for this file, in ascending order): a tag mistyped into
// another position of the table would rewrite the wrong bytes. The reading
// stops at the first broken block, or with DumpReading::kWhole goes on from
// the next empty line, so that every broken block is found. `limits`, when
// given, measures every converted text.
ScfDump ParseScfDump(const InsertionInputs& inputs, bool swap, const std::vector<uint32_t>& entryTags,
                     TextLimitCheck* limits = nullptr, DumpReading reading = DumpReading::kToFirstProblem);

// The file with every block's strings appended in dump order, padded with
// zeros to a multiple of 16, fileSize set, and each tagged entry repointed at
// its new strings, in `out`. A tag whose 16 bytes do not lie inside the entry
// table (from the table start up to stringAreaStart) is a failure, so that
// no tag can patch bytes outside it, and so is a file that would grow beyond
// 4 GiB.
ScfFailure BuildScfFile(ByteSpan file, const ScfHeader& header, const std::vector<ScfBlock>& blocks, Bytes& out);

}  // namespace fpskit

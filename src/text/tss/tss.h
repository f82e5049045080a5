// TSS script text: a compiled script is a 32-byte header, a code area of
// 4-byte words and a string area of zero-terminated strings. "untss" dumps
// every string the code refers to, every text quad (four string offsets side
// by side in the string area: two Japanese slots, two English slots) and the
// one SP string; "tss" and "tss_switch" append the edited strings to the end
// of the file and repoint the references, quads and SP slot at them.
//
// All numbers are big-endian. Every string offset is relative to textBase.
// The tools do not decode instructions; they recognise two word patterns in
// the code area:
//   02 82 xx xx, operand     a reference to the string at the operand, when
//                            the operand is below textSize
//   04 83 00 04, slot        the SP marker: the slot word at the given offset
//                            holds the offset of the SP string (first one only)
//
// The dump lists the fingerprint line, the quad groups, "[END]", the SP line
// and the numbered reference lines:
//   References: 5, fingerprint 1A2B3C4D
//
//   [000001F0_JP]: text      four lines per quad, tagged with its position,
//   [000001F0_JP]: text      then an empty line
//   [000001F0_EN]: text
//   [000001F0_EN]: text
//
//   [END]
//
//   [SP]: text
//
//   [000000]: text           one line per reference, in the reference order
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codetable/codetable.h"
#include "text/dump.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kTssHeaderSize = 32;
inline constexpr uint8_t kTssMagic[4] = {'T', 'S', 'S', 0};
// A textSize of exactly this means the script has no text: nothing is dumped
// and nothing is written back.
inline constexpr uint32_t kTssNoTextSize = 32;
inline constexpr size_t kTssTextSizeOffset = 24;  // rewritten by insertion

// A script whose textSize is 32 has no text: both tools leave it alone before
// they check the rest of its header, so that dump and insertion agree on it.
inline bool TssHasNoText(ByteSpan file) {
  return file.size() >= kTssHeaderSize && LoadU32BE(file.data() + kTssTextSizeOffset) == kTssNoTextSize;
}
inline constexpr uint8_t kTssReferenceOpcode[2] = {0x02, 0x82};
inline constexpr uint8_t kTssSpMarker[4] = {0x04, 0x83, 0x00, 0x04};
inline constexpr size_t kTssQuadSlotCount = 4;
inline constexpr size_t kTssQuadSize = 16;
// The first scanned quad must begin after this offset.
inline constexpr uint32_t kTssFirstQuadThreshold = 31;
// A quad's first two strings start less than this far apart.
inline constexpr uint32_t kTssQuadSpreadLimit = 0x200;
// Dump line prefixes: "[%08X_JP]: ", "[SP]: ", "[%06i]: ".
inline constexpr size_t kTssQuadPrefixLength = 15;
inline constexpr size_t kTssSpPrefixLength = 6;
inline constexpr size_t kTssReferencePrefixLength = 10;
// Paths holding this name are string dictionaries: their references stand in
// pairs, and "tss_switch" exchanges the texts of each pair.
inline constexpr std::string_view kStringDicName = "STRING_DIC";

struct TssHeader {
  uint32_t textBase = 0;        // at 12: file offset of the string area
  uint32_t codeScanLength = 0;  // at 20: bytes of code scanned from offset 32
  uint32_t textSize = 0;        // at 24: size of the string area; rewritten by insertion
};

// Reads the header of a whole TSS file (the magic is the caller's test). An
// error is printed for a file shorter than its header, a file of 4 GiB or
// more (its offsets could not address it), or a string area that begins
// beyond the end of the file.
bool ReadTssHeader(ByteSpan file, TssHeader& header);

// One reference found by the code scan.
struct StringRef {
  uint32_t operand = 0;     // offset of the string
  uint32_t codeOffset = 0;  // file offset of the 02 82 word; the operand word follows it
  ByteSpan text;            // the string without its zero (filled by ReadTssText)
};

struct TssCode {
  std::vector<StringRef> references;  // the reference order: by operand, ties in code order
  bool spFound = false;
  uint32_t spSlot = 0;  // offset of the SP slot word
};

// The code scan, shared by the dump and the insertion so that both number
// the references alike: codeScanLength / 4 words from offset 32, stopping at
// the end of the file (a word that cannot be read forms no reference and no
// marker). An accepted reference consumes its operand word; a rejected one
// leaves it to be examined. The references are then ordered by operand,
// stably. An SP slot whose word lies outside the file is reported, and the
// result is false.
bool ScanTssCode(ByteSpan file, const TssHeader& header, TssCode& code);

// The fingerprint line of a dump: "References: N, fingerprint XXXXXXXX",
// where XXXXXXXX is the 32-bit FNV-1a hash of N and of every reference's
// code offset, in the reference order (each a big-endian word). The numbered
// lines of a dump name places in that order, which a write-back changes when
// it moves some operands past others; a dump whose line differs from the
// script's was made from another state of it. Readers that do not know the
// line skip it as a note (it does not begin with '[').
inline constexpr std::string_view kTssFingerprintPrefix = "References: ";
std::string TssFingerprintLine(const TssCode& code);

struct TextQuad {
  uint32_t position = 0;  // offset of the quad
  std::array<uint32_t, kTssQuadSlotCount> offsets{};
  std::array<ByteSpan, kTssQuadSlotCount> strings;  // without their zeros
};

struct TssText {
  TssCode code;
  std::vector<TextQuad> quads;  // in the order of their positions
  std::optional<ByteSpan> sp;   // when the code holds an SP marker
};

// Everything the dump lists: the code scan with every reference's string,
// the quads found by the quad scan, and the SP string. A string outside the
// file or without a terminating zero is reported, and the result is false.
bool ReadTssText(ByteSpan file, const TssHeader& header, TssText& text);

// True when the four words read at offset `position` form a quad: strictly
// rising offsets, the first above `threshold`, the last below position - 8
// (unsigned: below 8 it wraps and always holds), the first two less than
// 512 apart.
bool IsTextQuad(const std::array<uint32_t, kTssQuadSlotCount>& words, uint32_t position, uint32_t threshold);

// True when the path (directories included) holds "STRING_DIC".
bool IsStringDictionary(std::string_view path);

// A dump line whose text holds CR LF, which splits it: reading the dump back
// would take the second half for something else.
struct TssSplitLine {
  size_t line = 0;    // the dump line (from 1) where the text begins
  std::string owner;  // what the line belongs to, e.g. "quad 000001F0 slot 2"
};

struct TssDump {
  Bytes text;
  std::vector<TssSplitLine> splitLines;
};

// The dump of a script, converted through `gameCodes`, optionally behind a
// UTF-8 byte order mark. In a string dictionary every odd-numbered reference
// line is followed by an empty line.
TssDump BuildTssDump(const TssText& text, const CodeTable& gameCodes, bool byteOrderMark, bool stringDictionary);

// The outcome of a script tool on one file.
enum class TssOutcome {
  kDone,
  kNoText,  // textSize is 32: nothing was read or written, and nothing said
  kMissed,  // insertion only: there is no dump; " (missed)" was printed
  kFailed,  // an error was printed; nothing was written
};

// Dumps a script held in memory to TextDumpPath(path); the STRING_DIC test
// is made on `path`. Warns on standard error about lines split by CR LF.
TssOutcome WriteTssDump(ByteSpan file, const std::string& path, bool byteOrderMark, const CodeTable& gameCodes);

// One quad group of an edited dump: the position from its first line and
// the game bytes of each slot (without a zero), already in slot order.
struct TssQuadEdit {
  uint32_t position = 0;
  std::array<Bytes, kTssQuadSlotCount> slots;
};

struct TssEdits {
  std::vector<TssQuadEdit> quads;  // in dump order
  std::optional<Bytes> sp;
  std::vector<std::optional<Bytes>> references;  // by place in the reference order; nullopt: kept
};

struct TssDumpContext {
  const CodeTable* gameCodes = nullptr;        // "JPCODES.TXT", applied right to left
  const CodeTable* translatorCodes = nullptr;  // "CODES.TXT", applied first
  bool swap = false;              // quad lines fill slots 2, 3, 0, 1; dictionary pairs exchange texts
  bool stringDictionary = false;
  TextLimitCheck* limits = nullptr;  // measures every converted text, when given
};

// Reads an edited dump in its three phases: quad groups up to "[END]", then at
// most one "[SP]: " line (only when the code has an SP marker), then numbered
// reference lines. Notes (lines of their own after an empty line, or before the
// first group) are ignored; a line right after a text line that is no line of
// the dump (a line break typed inside that text), a missing "[END]" (also an
// "[SP]" or numbered line before it), a group cut short, a group line without
// its own prefix (the group's tag and, in order, JP, JP, EN, EN:
// ReadTaggedBlock), an SP or numbered line whose prefix is broken or cut (a
// prefix that lost only its final space is an empty text: TakePrefixedText), a
// quad position whose 16 bytes lie outside the string area, and a reference
// number the script does not have are reported with the dump's name and line
// number, and the result is false (in a check, CheckingWholeDump, after the
// reading went on past each of them: a broken group from the next empty line).
// A quad tag must name a quad: four offsets of
// zero-terminated strings inside the string area. A dump with numbered lines
// whose fingerprint line (before "[END]") differs from the script's is refused;
// one without such a line is read with a warning on standard error. Every text
// goes through ConvertDumpLine. With swap in a string dictionary, references 0
// and 1, 2 and 3, ... exchange their new texts when both lines are present.
bool ParseTssDump(ByteSpan dump, const std::string& dumpName, ByteSpan file, const TssHeader& header,
                  const TssCode& code, const TssDumpContext& context, TssEdits& edits);

// The file with the new strings appended (quad slots in dump order, the SP
// string, the replaced references in the reference order), the quads, SP
// slot and operands patched to point at them, and textSize covering them.
// False, with a message, when a quad lies outside the string area or the
// file would outgrow its 32-bit offsets.
bool RebuildTss(ByteSpan file, const TssHeader& header, const TssCode& code, const TssEdits& edits, Bytes& out);

// The code tables of one run, loaded when the first dump is found, so that
// a container's members share them and a run without dumps needs none.
struct TssTables {
  InsertionInputs inputs;  // its tables; the dumps are read one by one
  bool loaded = false;
  // The game file the tables are looked up beside when the current
  // directory has none (a container's, for its members); empty: the script.
  std::string gameFile;
};

// Writes the dump TextDumpPath(path) into a script held in memory, giving
// the rewritten script in `out` (kDone). The STRING_DIC test is made on
// `path`. A script whose textSize is 32 is left alone (kNoText); without a
// dump file, prints " (missed)" and returns kMissed; otherwise the tables
// are loaded if they are not yet, and the dump is read and checked
// (ReadTextDump) before it is parsed.
TssOutcome InsertTssDump(ByteSpan file, const std::string& path, bool swap, TssTables& tables, Bytes& out);

// "untss" and "untss2" on a TSS file. True unless an error was printed.
bool DumpTssText(const std::string& path, const std::string& option);

// "tss", "tss2" (swap false) and "tss_switch" (swap true) on a TSS file: the
// file is replaced safely. A missing dump prints " (missed)" and is a
// failure here; the file is then untouched.
bool InsertTssText(const std::string& path, bool swap);

}  // namespace fpskit

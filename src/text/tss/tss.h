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
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  ByteReader reader(file, kTssTextSizeOffset);
  const uint32_t textSize = reader.U32BE();
  return file.size() >= kTssHeaderSize && reader.ok() && textSize == kTssNoTextSize;
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

// What can be wrong with a script, as its parsers and RebuildTss find it.
enum class TssError {
  kNone,
  kTruncatedHeader,       // the file is shorter than its header
  kFileTooLarge,          // 4 GiB or more: its 32-bit offsets could not address it
  kStringAreaInHeader,    // textBase (in `offset`) lies inside the header
  kStringAreaBeyondFile,  // textBase (in `offset`) lies beyond the end of the file
  kStringOutsideFile,     // the string of `owner` at file offset `offset`
  kStringUnterminated,    // the string of `owner` at file offset `offset` has no zero
  kSpSlotOutsideFile,     // the SP slot word at file offset `offset`
  kCodeDoesNotFit,        // RebuildTss: a header or code the parsers would have refused
  kNotAQuad,              // RebuildTss: the quad at string-area offset `offset`
  kRebuiltTooLarge,       // RebuildTss: the new file would reach 4 GiB
};

// Whose string a failure names.
enum class TssStringOwner { kReference, kQuadSlot, kSp };

struct TssFailure {
  TssError error = TssError::kNone;
  uint64_t offset = 0;
  TssStringOwner owner = TssStringOwner::kReference;
  size_t index = 0;  // the reference's number, or the quad's position
  size_t slot = 0;   // the quad's slot
  bool ok() const { return error == TssError::kNone; }
};

// Reads the header of a whole TSS file (the magic is the caller's test). A
// file shorter than its header, a file of 4 GiB or more (its offsets could
// not address it), or a string area that begins inside the header or beyond
// the end of the file is the failure returned.
TssFailure ParseTssHeader(ByteSpan file, TssHeader& header);

// One reference found by the code scan.
struct StringRef {
  uint32_t operand = 0;     // offset of the string
  uint32_t codeOffset = 0;  // file offset of the 02 82 word; the operand word follows it
  ByteSpan text;            // the string without its zero (filled by ParseTssText)
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
// stably. An SP slot whose word lies outside the file is the failure
// returned (the scan is complete all the same).
TssFailure ScanTssCode(ByteSpan file, const TssHeader& header, TssCode& code);

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
// the quads found by the quad scan, and the SP string. The SP slot's failure
// (ScanTssCode), or the first string outside the file or without a
// terminating zero, is the failure returned.
TssFailure ParseTssText(ByteSpan file, const TssHeader& header, TssText& text);

// True when the four words read at offset `position` form a quad: strictly
// rising offsets, the first above `threshold`, the last below position - 8
// (unsigned: below 8 it wraps and always holds), the first two less than
// 512 apart.
bool IsTextQuad(const std::array<uint32_t, kTssQuadSlotCount>& words, uint32_t position, uint32_t threshold);

// True when the path (directories included) holds "STRING_DIC".
bool IsStringDictionary(std::string_view path);

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

// True when the 16 bytes of a quad at `position` (from textBase) lie inside
// the string area and inside the file, at a position the quad scan can give
// (a multiple of 4).
bool QuadFitsStringArea(size_t fileSize, const TssHeader& header, uint32_t position);

// True when the 16 bytes at `position` hold what every quad of the script
// and every quad "tss" wrote holds: four offsets, each of a zero-terminated
// string inside the string area. A tag mistyped by a few digits lands on
// string bytes, which seldom pass.
bool NamesQuad(ByteSpan file, const TssHeader& header, uint32_t position);

// The file with the new strings appended (quad slots in dump order, the SP
// string, the replaced references in the reference order), the quads, SP
// slot and operands patched to point at them, and textSize covering them.
// The failure returned when the header or code does not fit the file, a quad
// lies outside the string area or the file would outgrow its 32-bit offsets.
TssFailure RebuildTss(ByteSpan file, const TssHeader& header, const TssCode& code, const TssEdits& edits,
                      Bytes& out);

}  // namespace fpskit

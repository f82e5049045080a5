// Text dumps: the CR LF text files the text tools write beside a game file
// and read back after a translator edited them. What every dump format
// shares: lines that begin with a fixed prefix, blocks of four tagged lines,
// a dump line converted back to game bytes, and the texts of a dump measured
// against the team's limits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codetable/codetable.h"
#include "codetable/lines.h"
#include "text/limits.h"
#include "util/bytes.h"

namespace fpskit {

// The code tables, the limits and the dump that an insertion works from.
struct InsertionInputs {
  CodeTable gameCodes;        // "JPCODES.TXT", applied right to left
  CodeTable translatorCodes;  // "CODES.TXT", applied first, left to right
  std::string dumpName;       // the dump's path, for messages
  Bytes dump;
  TextLimits limits = {};  // "LIMITS.TXT"; no rule when there is none
};

// How far a dump is read: an insertion stops at the first problem; a check
// reads on past every problem it can (a broken block, a tag, quad or
// reference the file does not have) so that all of them are reported.
enum class DumpReading { kToFirstProblem, kWhole };

// True when `line` begins with `prefix` ("[EN]: ", "[SP]: ", ...), with
// `text` set to the rest of the line. A line that is the prefix without its
// final space, and nothing after it, is the prefix of an empty text: editors
// that trim trailing spaces leave it so.
bool TakePrefixedText(ByteSpan line, std::string_view prefix, ByteSpan& text);

// Tagged blocks, as the SCF and script dumps hold them: four lines, each
// beginning with a 15-character prefix, "[TTTTTTTT_JP]: " on lines 1 and 2
// and "[TTTTTTTT_EN]: " on lines 3 and 4, where TTTTTTTT is the block's tag
// in eight upper-case hexadecimal digits.
inline constexpr size_t kTaggedPrefixLength = 15;
inline constexpr size_t kTaggedBlockLines = 4;

// The prefix of line `k` (0 to 3) of the block tagged `tag`.
std::string TaggedLinePrefix(uint32_t tag, size_t k);

// True for a line that begins a block: at least 4 characters, the first two
// "[0". Every other line between blocks is a note and is skipped.
bool IsTaggedBlockStart(ByteSpan line);

struct TaggedBlock {
  uint32_t tag = 0;
  std::array<ByteSpan, kTaggedBlockLines> texts;    // each line after its prefix
  std::array<size_t, kTaggedBlockLines> lines{};   // each line's number in the dump
};

// What is wrong with the lines of a dump.
enum class DumpError {
  kNone,
  kBadTag,          // `line`, a block's first line, lacks "[" and an 8-digit hexadecimal tag
  kBlockCut,        // the dump ends after `linesRead` of the 4 lines of the block begun on `line`
  kTypedLineBreak,  // a line break was typed inside the text of `line`; its rest is on `nextLine`
  kWrongPrefix,     // `line` does not begin with `prefix`
};

struct DumpFailure {
  DumpError error = DumpError::kNone;
  size_t line = 0;
  size_t nextLine = 0;   // kTypedLineBreak
  size_t linesRead = 0;  // kBlockCut
  std::string prefix;    // kWrongPrefix
  bool ok() const { return error == DumpError::kNone; }
};

// Parses the block whose first line `first` (dump line `lineNumber`) the
// reader has just returned, and its three other lines. Every line must begin
// with its own prefix for the tag of the first line (TakePrefixedText: a
// prefix that lost only its final space is an empty text), so that a
// mistyped tag or label, a deleted line or a line break typed inside a text
// is refused rather than written into the wrong slot. A line without any
// prefix that the expected line follows is a line break typed in the line
// before it (kTypedLineBreak). Returns the failure; `lineNumber` ends at the
// block's last line read.
DumpFailure ParseTaggedBlock(CrlfLineReader& reader, ByteSpan first, size_t& lineNumber, TaggedBlock& block);

// A character of an edited dump line that is not plain ASCII and that no
// row of the game's table converts: it is written into the game file as it
// stands.
struct UnconvertedCharacter {
  size_t line = 0;  // the dump line
  Bytes bytes;      // the UTF-8 character, or the one byte that begins no UTF-8 character
  bool utf8 = false;
};

// Dump line `lineNumber` (from 1) back to game bytes: through
// `translatorCodes` ("CODES.TXT") left to right, then through `gameCodes`
// ("JPCODES.TXT") right to left. Each character left that no row of
// `gameCodes` converts is appended to `unconverted`, once a line (none with
// a table built in code, such as the built-in one, which writes every
// character as it stands by design).
Bytes ConvertDumpLine(ByteSpan line, size_t lineNumber, const CodeTable& translatorCodes, const CodeTable& gameCodes,
                      std::vector<UnconvertedCharacter>& unconverted);

// The texts of one dump measured against the limits as an insertion converts
// them; an insertion writes them all the same and warns afterwards.
class TextLimitCheck {
 public:
  // A text over its limit: the dump line it stands on, and by how much.
  struct Excess {
    size_t dumpLine;
    LimitExcess excess;
  };

  // `gamePath` is the file the texts go into (its name picks the rules);
  // `dumpName` names the dump for the warnings.
  TextLimitCheck(const TextLimits& limits, TextFormat format, const std::string& gamePath, std::string dumpName);

  // Measures the game bytes `game` of the text on dump line `dumpLine`, a
  // line of kind `line`, against the first rule that matches it.
  void Measure(TextLine line, size_t dumpLine, ByteSpan game);

  // Every limit a text is over, in dump order.
  const std::vector<Excess>& excesses() const { return excesses_; }
  // The number of texts over a limit.
  size_t textsOver() const { return textsOver_; }
  const std::string& dumpName() const { return dumpName_; }

 private:
  const TextLimits& limits_;
  std::array<const LimitRule*, kTextLineKinds> rules_{};
  std::string dumpName_;
  std::vector<Excess> excesses_;
  size_t textsOver_ = 0;
};

}  // namespace fpskit

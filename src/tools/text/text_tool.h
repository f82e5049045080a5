// What the text formats' tools share: the dump beside a game file, what an
// insertion needs before it can rebuild one, and the guards that keep an
// edited dump from silently writing wrong bytes into the game's text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "codetable/codetable.h"
#include "codetable/lines.h"
#include "text/limits.h"
#include "util/bytes.h"

namespace fpskit {

// Reads the whole game file at `path`. False, after printing
// "\nCan't open <path>", when it cannot be read.
bool ReadGameFile(const std::string& path, Bytes& file);

// Names the dump of `path`: StripExtension(path) + ".txt". A game file whose
// own name ends in ".txt" would be its own dump (dumping would overwrite it,
// inserting would read it as the dump), so that is refused with a message
// and the result is false.
bool TextDumpPath(const std::string& path, std::string& dumpPath);

inline constexpr const char* kLimitsFile = "LIMITS.TXT";

// The code tables, the limits and the dump that an insertion works from.
struct InsertionInputs {
  CodeTable gameCodes;        // "JPCODES.TXT", applied right to left
  CodeTable translatorCodes;  // "CODES.TXT", applied first, left to right
  std::string dumpName;       // the dump's path, for messages
  Bytes dump;
  TextLimits limits = {};  // "LIMITS.TXT"; no rule when there is none
};

// Selects both code tables (SelectCodeTable; the dump lies beside its game
// file, so they are also looked up beside it) and the limits
// (SelectTextLimits, likewise) and reads the dump (ReadTextDump). False, with
// a message, when a table or the limits cannot be loaded or the dump cannot be
// used; the tool then stops before it writes anything.
bool LoadInsertionInputs(const std::string& dumpPath, InsertionInputs& inputs);

// Reads the dump at `dumpPath` into `inputs` (dumpName and dump) and checks
// its form with CheckCrlfText. False, with "\nCan't open <path>" or the
// form's error, otherwise. A tool that inserts several dumps with the same
// tables calls it once for each.
bool ReadTextDump(const std::string& dumpPath, InsertionInputs& inputs);

// Dump line `lineNumber` (from 1) back to game bytes: through "CODES.TXT" left
// to right, then through "JPCODES.TXT" right to left. Each character left
// that is not plain ASCII and that no "JPCODES.TXT" row converts is written
// as it stands, with a warning on standard error:
//   WARNING: <dump> line 12: 'é' (C3 A9) has no row in JPCODES.TXT and is written as it stands
// (once a line for each such character; none with the built-in table, which
// writes every character as it stands by design).
Bytes ConvertDumpLine(ByteSpan line, size_t lineNumber, const InsertionInputs& inputs);
// The same for a caller that keeps the tables apart from the dump (one pair of
// tables for many dumps); `dumpName` names the dump in the warnings.
Bytes ConvertDumpLine(ByteSpan line, const std::string& dumpName, size_t lineNumber,
                      const CodeTable& translatorCodes, const CodeTable& gameCodes);

// Reads "LIMITS.TXT" into `limits`, found as the code tables are: in the
// current directory, else beside `gameFile`, else beside the program (with a
// notice naming the file used). Without one, `limits` has no rule and nothing
// is said. False, with "\nERROR: LIMITS.TXT line <n>: <what>" (or why the
// file cannot be read, or the CheckCrlfText error), when it cannot be used.
bool SelectTextLimits(const std::string& gameFile, TextLimits& limits);

// A run over many files reads the limits once: while a ScopedSelectedLimits
// is alive, SelectTextLimits on any thread copies `limits` without reading
// the file.
class ScopedSelectedLimits {
 public:
  explicit ScopedSelectedLimits(const TextLimits& limits);
  ~ScopedSelectedLimits();
  ScopedSelectedLimits(const ScopedSelectedLimits&) = delete;
  ScopedSelectedLimits& operator=(const ScopedSelectedLimits&) = delete;
};

// The number of texts over a limit that TextLimitCheck::Report has warned
// about in this process, on any thread: "check" compares it before and after
// its run.
size_t TextsOverLimitsReported();

// The texts of one dump measured against the limits as an insertion converts
// them; an insertion writes them all the same and warns afterwards.
class TextLimitCheck {
 public:
  // `gamePath` is the file the texts go into (its name picks the rules);
  // `dumpName` names the dump in the warnings.
  TextLimitCheck(const TextLimits& limits, TextFormat format, const std::string& gamePath, std::string dumpName);

  // Measures the game bytes `game` of the text on dump line `dumpLine`, a
  // line of kind `line`, against the first rule that matches it.
  void Measure(TextLine line, size_t dumpLine, ByteSpan game);

  // Warns on standard error for every limit a text is over, in dump order:
  //   WARNING: chat.txt line 12: line 2 of the text is 35 characters, limit 32
  // Returns the number of texts over a limit, and adds it to
  // TextsOverLimitsReported.
  size_t Report() const;

 private:
  const TextLimits& limits_;
  std::array<const LimitRule*, kTextLineKinds> rules_{};
  std::string dumpName_;
  std::vector<std::string> warnings_;
  size_t textsOver_ = 0;
};

// Warns on standard error that `what` (for example "record 3 (entry 0, [EN]
// string)") holds CR LF, which splits its line `line` of the dump in two, and
// that the translator should join it before `insertMode` ("cht", "scf", ...).
void WarnSplitLine(std::string_view what, size_t line, std::string_view insertMode);

// Warns on standard error that line `dropped` of the dump differs from line
// `kept`, which shares its string, so that only line `kept` was written back
// (the share option stores a shared string once, from its first line).
void WarnDroppedSharedLine(const std::string& dumpName, size_t dropped, size_t kept);

// True when `line` begins with `prefix` ("[EN]: ", "[SP]: ", ...), with
// `text` set to the rest of the line. A line that is the prefix without its
// final space, and nothing after it, is the prefix of an empty text: editors
// that trim trailing spaces leave it so.
bool TakePrefixedText(ByteSpan line, std::string_view prefix, ByteSpan& text);

// Prints the error for a line break typed inside the text of dump line
// `textLine`, whose rest stands on line `nextLine`, where no line of its own
// may stand. In dumps that take notes (`notes`), the message adds that a
// note needs an empty line before it.
void ReportTypedLineBreak(const std::string& dumpName, size_t textLine, size_t nextLine, bool notes);

// A check ("check" over a tree) reports every problem of a dump that the
// reader can go on past (a broken block, a tag, quad or reference the file
// does not have), and of every member of a container; an insertion stops at
// the first. Set for the whole process (every thread: a container's members
// are read on helper threads) while a ScopedDumpCheck lives.
bool CheckingWholeDump();
class ScopedDumpCheck {
 public:
  ScopedDumpCheck();
  ~ScopedDumpCheck();
  ScopedDumpCheck(const ScopedDumpCheck&) = delete;
  ScopedDumpCheck& operator=(const ScopedDumpCheck&) = delete;

 private:
  bool previous_;
};

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

// Reads the block whose first line `first` (dump line `lineNumber`) the
// reader has just returned, and its three other lines. Every line must begin
// with its own prefix for the tag of the first line (TakePrefixedText: a
// prefix that lost only its final space is an empty text), so that a
// mistyped tag or label, a deleted line or a line break typed inside a text
// is refused rather than written into the wrong slot. A line without any
// prefix that the expected line follows is reported as a line break typed
// in the line before it (ReportTypedLineBreak). False, with
// "\nERROR: <dump> line <n> ..." printed, otherwise. `lineNumber` ends at the
// block's last line read.
bool ReadTaggedBlock(CrlfLineReader& reader, ByteSpan first, const std::string& dumpName, size_t& lineNumber,
                     TaggedBlock& block);

}  // namespace fpskit

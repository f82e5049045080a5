// What the text formats' tools share: the dump beside a game file, what an
// insertion needs before it can rebuild one, the guards that keep an edited
// dump from silently writing wrong bytes into the game's text, and the
// messages for what reading a dump found.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/dump.h"
#include "text/limits.h"
#include "tools/text/code_table_files.h"
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

// Warns on standard error, in order, about each character that an insertion
// writes as it stands because no row of the table `tableName` converts it:
//   WARNING: <dump> line 12: 'é' (C3 A9) has no row in JPCODES.TXT and is written as it stands
void WarnUnconverted(const std::string& dumpName, const std::string& tableName,
                     const std::vector<UnconvertedCharacter>& characters);

// ConvertDumpLine of text/dump.h that warns at once (WarnUnconverted) about
// the characters it writes as they stand.
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

// The number of texts over a limit that ReportTextLimits has warned about in
// this process, on any thread: "check" compares it before and after its run.
size_t TextsOverLimitsReported();

// Warns on standard error for every limit a text of `check` is over, in dump
// order:
//   WARNING: chat.txt line 12: line 2 of the text is 35 characters, limit 32
// Returns the number of texts over a limit, and adds it to
// TextsOverLimitsReported.
size_t ReportTextLimits(const TextLimitCheck& check);

// Warns on standard error that `what` (for example "record 3 (entry 0, [EN]
// string)") holds CR LF, which splits its line `line` of the dump in two, and
// that the translator should join it before `insertMode` ("cht", "scf", ...).
void WarnSplitLine(std::string_view what, size_t line, std::string_view insertMode);

// Warns on standard error that line `dropped` of the dump differs from line
// `kept`, which shares its string, so that only line `kept` was written back
// (the share option stores a shared string once, from its first line).
void WarnDroppedSharedLine(const std::string& dumpName, size_t dropped, size_t kept);

// Prints the error for a line break typed inside the text of dump line
// `textLine`, whose rest stands on line `nextLine`, where no line of its own
// may stand. In dumps that take notes (`notes`), the message adds that a
// note needs an empty line before it.
void ReportTypedLineBreak(const std::string& dumpName, size_t textLine, size_t nextLine, bool notes);

// Prints "\nERROR: <dump> line <n> ..." for the lines of a dump that
// ParseTaggedBlock (or another reader of a dump that takes notes) refused.
void ReportDumpFailure(const std::string& dumpName, const DumpFailure& failure);

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

// How far the tools read a dump now: all of it in a check.
inline DumpReading CurrentDumpReading() {
  return CheckingWholeDump() ? DumpReading::kWhole : DumpReading::kToFirstProblem;
}

}  // namespace fpskit

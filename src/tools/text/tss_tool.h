// The script tools on TSS files: "untss" and "untss2" dump a script's text,
// "tss", "tss2" and "tss_switch" write an edited dump back into it. A
// container's members go through the same functions (tools/text/scel_tool.h).
// The file format and its parsers are text/tss/tss.h.
#pragma once

#include <string>
#include <vector>

#include "codetable/codetable.h"
#include "tools/text/text_tool.h"
#include "text/tss/tss.h"
#include "util/bytes.h"

namespace fpskit {

// The message for a failure of the script parsers or of RebuildTss, as the
// tools print it ("\nERROR: truncated TSS header"), and the same printed.
std::string DescribeTssFailure(const TssFailure& failure);
void ReportTssFailure(const TssFailure& failure);

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

// Dumps a script held in memory to TextDumpPath(path); the STRING_DIC test
// is made on `path`. A script whose textSize is 32 is left alone, silently.
// Warns on standard error about lines split by CR LF. False when an error
// was printed.
bool WriteTssDump(ByteSpan file, const std::string& path, bool byteOrderMark, const CodeTable& gameCodes);

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

// The outcome of the insertion into one script.
enum class TssOutcome {
  kDone,
  kNoText,  // textSize is 32: nothing was read or written, and nothing said
  kMissed,  // there is no dump; " (missed)" was printed
  kFailed,  // the tool printed why; nothing was written
};

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

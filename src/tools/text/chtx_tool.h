// The chat tools on ZK6CHTX files: "uncht" dumps a chat file's strings,
// "cht" and "cht_switch" write an edited dump back into it. The file format
// is text/chtx/chtx.h.
#pragma once

#include <string>
#include <vector>

#include "codetable/codetable.h"
#include "text/chtx/chtx.h"
#include "tools/text/text_tool.h"
#include "util/bytes.h"

namespace fpskit {

// The message for a failure of ParseChtx or BuildChtx, as the tools print it
// ("\nNot a ZK6CHTX"), and the same printed.
std::string DescribeChtxFailure(const ChtxFailure& failure);
void ReportChtxFailure(const ChtxFailure& failure);

// Reads the file at `path` whole into `data` and parses it. False, after
// printing "\nCan't open <path>" when it cannot be read or the ParseChtx
// failure otherwise.
bool ReadChtxFile(const std::string& path, Bytes& data, ChtxFile& chtx);

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
// from its dump and replaces it safely; the texts are measured against the
// limits whatever `insertion.limits` says. True when the file was replaced.
bool InsertChtx(const std::string& path, ChtxInsertion insertion);

}  // namespace fpskit

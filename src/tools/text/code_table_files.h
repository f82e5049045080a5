// The code table files the text tools read: which "JPCODES.TXT" or
// "CODES.TXT" a tool uses, reading it, and the messages for a table, a dump
// or "LIMITS.TXT" that cannot be used.
#pragma once

#include <string>
#include <vector>

#include "codetable/codetable.h"
#include "codetable/lines.h"

namespace fpskit {

// What a CR LF text file is, for the advice in DescribeCrlfTextError.
enum class CrlfTextKind { kDump, kCodeTable };

// "\nERROR: <name> ..." for a text CheckCrlfText refused, naming the cause.
std::string DescribeCrlfTextError(const std::string& name, CrlfTextKind kind, CrlfTextError error);

// Checks a dump or code table with CheckCrlfText; false, after printing
// DescribeCrlfTextError, when it is not in the form fpskit reads.
bool CheckCrlfTextFile(ByteSpan text, const std::string& name, CrlfTextKind kind);

// "\nERROR: <name> line <n>: <what>" for a table that breaks the grammar, or
// the DescribeCrlfTextError text for one in another form.
std::string DescribeCodeTableFailure(const std::string& name, const CodeTableFailure& failure);

// Reads and parses the code table file at `path`; false, after printing why,
// when it cannot be read or breaks the grammar.
bool ReadCodeTableFile(const std::string& path, CodeTable& table);

// The table every text tool uses: the file `name` in the current directory;
// when there is none, the one beside `gameFile` (the file the tool reads or
// writes back), then the one beside the running program, each with a notice
// on standard error that names the file used. When none of them exists the
// built-in table is used, and a notice on standard error names the
// directories searched (a run from the wrong directory would otherwise write
// the dump's text into the game file unconverted). False, with a message,
// when the file found cannot be read or loaded; the tool then stops before
// writing anything.
bool SelectCodeTable(const std::string& name, const std::string& gameFile, CodeTable& table);

// A run over many files selects each table once: while a ScopedSelectedTables
// is alive, SelectCodeTable(name) on any thread copies the table selected for
// `name` (if there is one) without reading a file or repeating a notice.
struct SelectedTable {
  std::string name;
  CodeTable table;
};
class ScopedSelectedTables {
 public:
  explicit ScopedSelectedTables(const std::vector<SelectedTable>& tables);
  ~ScopedSelectedTables();
  ScopedSelectedTables(const ScopedSelectedTables&) = delete;
  ScopedSelectedTables& operator=(const ScopedSelectedTables&) = delete;
};

}  // namespace fpskit

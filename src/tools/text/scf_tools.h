// "unscf", "scf" and "scf_switch": the SCFOMBIN text tools.
#pragma once

#include <string>

#include "text/scf/scf.h"

namespace fpskit {

// The message for a SCFOMBIN file, or blocks written into one, that cannot
// be used: "\nThis is not a SCFOMBIN", "\nERROR: bad SCFOMBIN header: ...".
std::string DescribeScfFailure(const ScfFailure& failure);

// Prints, in dump order, what ParseScfDump found: the errors with the dump's
// name and line number on standard output, and the characters written as
// they stand (table `tableName`) as warnings on standard error.
void ReportScfDumpProblems(const std::string& dumpName, const std::string& tableName, const ScfDump& dump);

// "unscf": writes StripExtension(path) + ".txt" beside the file, beginning
// with a UTF-8 byte order mark when `option` starts with "utf8". Returns false
// when it printed an error.
bool ExtractScf(const std::string& path, const std::string& option);

// "scf" (swap false) and "scf_switch" (swap true): writes the dump beside the
// file back into it and replaces it safely. A dump without any block leaves
// the file as it is and says so on standard error. Returns false when it
// printed an error; the file is then untouched.
struct ScfInsertion {
  bool swap = false;  // exchange each block's Japanese and English strings
};
bool InsertScf(const std::string& path, const ScfInsertion& insertion);

}  // namespace fpskit

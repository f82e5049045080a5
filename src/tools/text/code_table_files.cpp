#include "tools/text/code_table_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "util/console.h"
#include "util/files.h"
#include "util/platform.h"

namespace fpskit {

std::string DescribeCrlfTextError(const std::string& name, CrlfTextKind kind, CrlfTextError error) {
  if (error == CrlfTextError::kUtf16) return "\nERROR: " + name + " is saved as UTF-16; save it as UTF-8";
  return "\nERROR: " + name + ": its lines end in LF alone; " +
         (kind == CrlfTextKind::kDump ? "fpskit dumps" : "code tables") + " use CR LF";
}

bool CheckCrlfTextFile(ByteSpan text, const std::string& name, CrlfTextKind kind) {
  const CrlfTextError error = CheckCrlfText(text);
  if (error == CrlfTextError::kNone) return true;
  Print(DescribeCrlfTextError(name, kind, error));
  return false;
}

namespace {

const char* RowErrorText(CodeTableError error) {
  switch (error) {
    case CodeTableError::kExpectedHexDigits: return "expected two hexadecimal digits";
    case CodeTableError::kColumnTooLong: return "more than 100 bytes in a column";
    case CodeTableError::kExpectedSemicolon: return "expected ';' after the left column";
    case CodeTableError::kMissingRightColumn: return "missing right column";
    case CodeTableError::kExpectedBlank: return "expected a space or tab after ';'";
    case CodeTableError::kExpectedEndOfLine: return "expected ';' or the end of the line after the right column";
    case CodeTableError::kNone:
    case CodeTableError::kText: break;
  }
  return "";
}

}  // namespace

std::string DescribeCodeTableFailure(const std::string& name, const CodeTableFailure& failure) {
  if (failure.error == CodeTableError::kText) return DescribeCrlfTextError(name, CrlfTextKind::kCodeTable, failure.text);
  return "\nERROR: " + name + " line " + std::to_string(failure.line) + ": " + RowErrorText(failure.error);
}

bool ReadCodeTableFile(const std::string& path, CodeTable& table) {
  Bytes text;
  errno = 0;
  if (!ReadWholeFile(path, text)) {
    const int error = platform::IsDirectory(path) ? EISDIR : errno;
    Printf("\nERROR: can't read the code table %s: %s", path.c_str(),
           error != 0 ? std::strerror(error) : "read failed");
    return false;
  }
  const CodeTableFailure failure = ParseCodeTable(text, path, table);
  if (failure.ok()) return true;
  Print(DescribeCodeTableFailure(path, failure));
  return false;
}

namespace {

std::atomic<const std::vector<SelectedTable>*> selectedTables{nullptr};

}  // namespace

ScopedSelectedTables::ScopedSelectedTables(const std::vector<SelectedTable>& tables) { selectedTables = &tables; }

ScopedSelectedTables::~ScopedSelectedTables() { selectedTables = nullptr; }

bool SelectCodeTable(const std::string& name, const std::string& gameFile, CodeTable& table) {
  if (const std::vector<SelectedTable>* selected = selectedTables.load()) {
    for (const SelectedTable& entry : *selected) {
      if (entry.name != name) continue;
      table = entry.table;
      return true;
    }
  }
  // Only a file that is not there falls back; one that cannot be read (no
  // permission, a directory, a dangling link) must not be taken for absent.
  if (platform::EntryExists(name)) return ReadCodeTableFile(name, table);
  // Started from a shortcut, by a file dropped onto the program or from
  // another folder, the current directory is rarely the one with the
  // tables: the game file's directory is tried next, then the program's.
  std::vector<std::string> searched = {platform::CurrentDirectory()};
  const std::string program = platform::ExecutablePath();
  for (const std::string& directory :
       {platform::DirectoryPartOf(gameFile), program.empty() ? std::string() : platform::DirectoryPartOf(program)}) {
    // A game file without a directory lies in the current one.
    if (directory.empty() || std::find(searched.begin(), searched.end(), directory) != searched.end()) continue;
    const std::string beside = directory + name;
    if (platform::EntryExists(beside)) {
      Warnf("NOTE: no %s in the current directory; %s is used", name.c_str(), beside.c_str());
      return ReadCodeTableFile(beside, table);
    }
    searched.push_back(directory);
  }
  table = BuiltInCodeTable();
  std::string places = searched[0];
  for (size_t i = 1; i < searched.size(); ++i) places += (i + 1 == searched.size() ? " or " : ", ") + searched[i];
  Warnf("NOTE: no %s in %s; the built-in table is used, which converts no byte", name.c_str(), places.c_str());
  return true;
}

}  // namespace fpskit

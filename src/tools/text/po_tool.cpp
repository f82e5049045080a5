#include "tools/text/po_tool.h"

#include <cstring>
#include <ctime>
#include <mutex>

#include "codetable/codetable.h"
#include "codetable/lines.h"
#include "text/po/catalog.h"
#include "text/po/po.h"
#include "text/scel/scel.h"
#include "text/tss/tss.h"
#include "tools/text/scel_tool.h"
#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"

namespace fpskit {
namespace {

// Where the dumps of a game file lie and how they are read.
struct DumpFiles {
  DumpLayout layout = DumpLayout::kChat;
  std::vector<std::string> paths;
  std::vector<std::string> references;  // relative to the catalog's directory
  std::vector<std::string> keyPrefixes;
  std::vector<std::string> gameNames;  // the game file (or container member) each dump belongs to
  std::vector<bool> dictionaries;
};

bool HasMagic(const Bytes& file, const void* magic, size_t size) {
  return file.size() >= size && std::memcmp(file.data(), magic, size) == 0;
}

void AddDump(DumpFiles& dumps, const std::string& path, std::string reference, std::string keyPrefix,
             bool dictionary, const std::string& gamePath) {
  dumps.gameNames.push_back(FileNameOf(gamePath));
  dumps.paths.push_back(path);
  dumps.references.push_back(std::move(reference));
  dumps.keyPrefixes.push_back(std::move(keyPrefix));
  dumps.dictionaries.push_back(dictionary);
}

// Finds the dumps of the game file at `path` from its first bytes. False,
// with a message, when it cannot be read or is no game text file; a script
// without text (or a container without member dumps) gives no dump.
bool FindDumps(const std::string& path, DumpFiles& dumps) {
  Bytes file;
  if (!ReadGameFile(path, file)) return false;
  std::string dumpPath;
  static constexpr uint8_t kChtx[8] = {'Z', 'K', '6', 'C', 'H', 'T', 'X', 0};
  static constexpr char kScf[8] = {'S', 'C', 'F', 'O', 'M', 'B', 'I', 'N'};
  if (HasMagic(file, kScelMagic, sizeof kScelMagic)) {
    ScelContainer container;
    if (const ScelFailure failure = ParseScel(file, container); !failure.ok()) {
      ReportScelFailure(failure);
      return false;
    }
    dumps.layout = DumpLayout::kScript;
    const std::string directory = FileNameOf(StripExtension(path));
    for (size_t n = 0; n < container.members.size(); ++n) {
      const std::string member = ScelMemberPath(path, n, "txt");
      if (!FileExists(member)) continue;
      char prefix[32];
      std::snprintf(prefix, sizeof prefix, "%04zu/", n);
      AddDump(dumps, member, directory + "/" + FileNameOf(member), prefix, IsStringDictionary(member),
              ScelMemberPath(path, n, "dec"));
    }
    return true;
  }
  if (HasMagic(file, kChtx, sizeof kChtx)) {
    dumps.layout = DumpLayout::kChat;
  } else if (HasMagic(file, kScf, sizeof kScf)) {
    dumps.layout = DumpLayout::kScf;
  } else if (HasMagic(file, kTssMagic, sizeof kTssMagic)) {
    dumps.layout = DumpLayout::kScript;
    if (TssHasNoText(file)) return true;
  } else {
    Printf("\nERROR: %s is not a ZK6CHTX, TSS, ZK6SCEL or SCFOMBIN file", path.c_str());
    return false;
  }
  if (!TextDumpPath(path, dumpPath)) return false;
  AddDump(dumps, dumpPath, FileNameOf(dumpPath), "", dumps.layout == DumpLayout::kScript && IsStringDictionary(path),
          path);
  return true;
}

// The game's line break as the dump shows it: the right column of the first
// "JPCODES.TXT" row whose left column is the byte 0A alone, or that byte
// itself when no row converts it (or the row's text holds control bytes,
// which no dump line can show).
std::string GameLineBreak(const CodeTable& table) {
  for (const CodeTableEntry& row : table.entries) {
    if (row.leftLength != 1 || row.leftBytes[0] != 0x0A) continue;
    const std::string text(row.rightBytes.begin(), row.rightBytes.begin() + row.rightLength);
    for (char c : text) {
      if (uint8_t(c) < 0x20) return "\n";
    }
    return text;
  }
  return "\n";
}

bool LoadLineBreak(const std::string& gameFile, std::string& lineBreak) {
  CodeTable table;
  if (!SelectCodeTable(kGameCodesFile, gameFile, table)) return false;
  lineBreak = GameLineBreak(table);
  return true;
}

// Reads every dump and its units into `catalog` (`storage` keeps the bytes).
bool ReadDumps(const DumpFiles& files, std::vector<Bytes>& storage, std::vector<CatalogDump>& catalog) {
  storage.resize(files.paths.size());
  catalog.resize(files.paths.size());
  for (size_t i = 0; i < files.paths.size(); ++i) {
    const std::string& path = files.paths[i];
    if (!ReadWholeFile(path, storage[i])) {
      Printf("\nCan't open %s", path.c_str());
      return false;
    }
    if (!CheckCrlfTextFile(storage[i], path, CrlfTextKind::kDump)) return false;
    CatalogDump& dump = catalog[i];
    dump.text = storage[i];
    dump.reference = files.references[i];
    dump.keyPrefix = files.keyPrefixes[i];
    TextError error;
    if (!ReadDumpUnits(dump.text, files.layout, files.dictionaries[i], dump.units, error)) {
      Printf("\nERROR: %s line %zu: %s", path.c_str(), error.line, error.what.c_str());
      return false;
    }
  }
  return true;
}

std::string CurrentDate() {
  // std::gmtime fills one buffer for the whole program, and a tree run
  // writes catalogs on several threads at once.
  static std::mutex gmtimeBuffer;
  const std::lock_guard<std::mutex> lock(gmtimeBuffer);
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char date[32] = "1970-01-01 00:00+0000";
  if (utc != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M+0000", utc);
  return date;
}

// The catalog of `path`: StripExtension(path) + extension; a game file that
// would be its own catalog is refused.
bool CatalogPath(const std::string& path, const char* extension, std::string& catalog) {
  catalog = StripExtension(path) + extension;
  if (catalog != path) return true;
  Printf("\nERROR: %s would be its own PO file; rename it first", path.c_str());
  return false;
}

}  // namespace

bool CheckPoOption(bool toPo, const std::string& option) {
  if (option == "0" || option == (toPo ? "en" : "fuzzy") || (toPo && option == "pot")) return true;
  if (toPo) {
    Printf("\nERROR: dump2po takes the option \"en\" or \"pot\", not \"%s\"", option.c_str());
  } else {
    Printf("\nERROR: po2dump takes the option \"fuzzy\", not \"%s\"", option.c_str());
  }
  return false;
}

bool DumpToPo(const std::string& path, const std::string& option) {
  if (!CheckPoOption(true, option)) return false;
  const CatalogSource source = option == "en"    ? CatalogSource::kEnglish
                               : option == "pot" ? CatalogSource::kTemplate
                                                 : CatalogSource::kJapanese;
  DumpFiles files;
  std::string catalogPath, lineBreak;
  if (!FindDumps(path, files) ||
      !CatalogPath(path, source == CatalogSource::kTemplate ? ".pot" : ".po", catalogPath)) {
    return false;
  }
  if (files.paths.empty()) {
    Printf("\nERROR: %s has no dump with text to read (\"untss\" writes a container's member dumps)",
           path.c_str());
    return false;
  }
  std::vector<Bytes> storage;
  std::vector<CatalogDump> dumps;
  TextLimits limits;
  if (!LoadLineBreak(path, lineBreak) || !SelectTextLimits(path, limits) || !ReadDumps(files, storage, dumps)) {
    return false;
  }
  const TextFormat format = files.layout == DumpLayout::kChat     ? TextFormat::kChat
                            : files.layout == DumpLayout::kScript ? TextFormat::kScript
                                                                  : TextFormat::kScf;
  for (size_t i = 0; i < dumps.size(); ++i) {
    for (size_t line = 0; line < kTextLineKinds; ++line) {
      dumps[i].limits[line] = FindLimitRule(limits, format, files.gameNames[i], TextLine(line));
    }
  }
  std::vector<PoEntry> entries{CatalogHeader(FileNameOf(StripExtension(path)), source, CurrentDate())};
  for (size_t i = 0; i < dumps.size(); ++i) {
    TextError error;
    if (!AppendCatalogEntries(dumps[i], source, lineBreak, entries, error)) {
      Printf("\nERROR: %s line %zu: %s", files.paths[i].c_str(), error.line, error.what.c_str());
      return false;
    }
  }
  const Bytes catalog = WritePo(entries);
  if (!KeepBackupIfDifferent(catalogPath, catalog) || !ReplaceFileSafely(catalogPath, catalog)) return false;
  Printf("\n%s", catalogPath.c_str());
  return true;
}

bool PoToDump(const std::string& path, const std::string& option, bool* changed) {
  if (changed != nullptr) *changed = false;
  if (!CheckPoOption(false, option)) return false;
  DumpFiles files;
  std::string catalogPath, lineBreak;
  Bytes catalogText;
  if (!FindDumps(path, files) || !CatalogPath(path, ".po", catalogPath)) return false;
  if (!ReadWholeFile(catalogPath, catalogText)) {
    Printf("\nCan't open %s", catalogPath.c_str());
    return false;
  }
  std::vector<PoEntry> entries;
  PoError poError;
  if (!ParsePo(catalogText, entries, poError)) {
    Printf("\nERROR: %s line %zu: %s", catalogPath.c_str(), poError.line, poError.what.c_str());
    return false;
  }
  std::vector<Bytes> storage;
  std::vector<CatalogDump> dumps;
  if (!LoadLineBreak(path, lineBreak) || !ReadDumps(files, storage, dumps)) return false;

  const CatalogApplication result = ApplyCatalog(dumps, entries, lineBreak, option == "fuzzy");
  if (!result.problems.empty()) {
    constexpr size_t kShown = 50;
    for (size_t i = 0; i < result.problems.size() && i < kShown; ++i) {
      Printf("\nERROR: %s line %zu: %s", catalogPath.c_str(), result.problems[i].poLine,
             result.problems[i].what.c_str());
    }
    if (result.problems.size() > kShown) {
      Printf("\nERROR: %s: %zu more entries like these", catalogPath.c_str(), result.problems.size() - kShown);
    }
    Print("\nNothing was written");
    return false;
  }
  if (result.fuzzySkipped != 0) {
    Warnf("NOTE: %zu fuzzy entries of %s were not applied; give the option \"fuzzy\" to apply them",
          result.fuzzySkipped, catalogPath.c_str());
  }
  for (size_t i = 0; i < dumps.size(); ++i) {
    const Bytes edited = EditDump(dumps[i].text, i, result.edits);
    if (edited == storage[i]) continue;
    if (!KeepBackupIfDifferent(files.paths[i], edited) || !ReplaceFileSafely(files.paths[i], edited)) return false;
    if (changed != nullptr) *changed = true;
    Printf("\n%s", files.paths[i].c_str());
  }
  return true;
}

}  // namespace fpskit

#include "tools/tree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

#include "codetable/codetable.h"
#include "text/chtx/chtx.h"
#include "tools/text/po_tool.h"
#include "text/scel/scel.h"
#include "tools/text/scf_tools.h"
#include "tools/text/text_tool.h"
#include "text/tss/tss.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/scel_tool.h"
#include "util/console.h"
#include "util/files.h"
#include "util/parallel.h"
#include "util/paths.h"
#include "util/platform.h"
#include "util/replacement_catcher.h"
#include "util/reporter.h"

namespace fpskit {
namespace {


// Part of the name of every temporary file of a replacement.
constexpr std::string_view kTemporaryMark = "$$$TEMP$$$";
// The end of the name of a backup kept before an edited file is overwritten.
constexpr std::string_view kBackupEnding = ".bak";

enum class FileOutcome { kDone, kUnchanged, kNoDump, kFailed };

struct TreeFile {
  std::string path;
  TextFileKind kind = TextFileKind::kNone;
  std::string clash;  // another file that would share this file's dump
};

TextFileKind SniffFile(const std::string& path) {
  uint8_t head[8] = {};
  size_t length = 0;
  if (FileHandle file = OpenFile(path, "rb")) length = std::fread(head, 1, sizeof head, file.get());
  return SniffTextFile(ByteSpan(head, length));
}

// The member files "untss2" wrote beside a container ('scene/scene_0001.bin')
// are scripts too, but the container's own dumps carry their names: they are
// the container's, and "tss2" writes them back.
bool IsContainerMemberFile(const std::string& path, const std::vector<std::string>& containerDirectories) {
  const std::string directory = platform::DirectoryPartOf(path);
  if (directory.empty()) return false;
  const std::string parent = directory.substr(0, directory.size() - 1);
  if (!std::binary_search(containerDirectories.begin(), containerDirectories.end(), parent)) return false;
  const std::string name = FileNameOf(path);
  const std::string stem = FileNameOf(parent) + "_";
  return name.size() == stem.size() + 8 && name.compare(0, stem.size(), stem) == 0 &&
         name.compare(name.size() - 4, 4, ".bin") == 0;
}

// The game text files among `paths`, with the files whose dumps would
// coincide marked: neither of them is done.
std::vector<TreeFile> FindTextFiles(const std::vector<std::string>& paths) {
  std::vector<TreeFile> files;
  std::vector<std::string> containerDirectories;
  for (const std::string& path : paths) {
    const TextFileKind kind = SniffFile(path);
    if (kind == TextFileKind::kNone) continue;
    files.push_back({path, kind, {}});
    if (kind == TextFileKind::kContainer) containerDirectories.push_back(StripExtension(path));
  }
  std::sort(containerDirectories.begin(), containerDirectories.end());
  std::erase_if(files, [&](const TreeFile& file) {
    return file.kind == TextFileKind::kScript && IsContainerMemberFile(file.path, containerDirectories);
  });
  std::vector<std::pair<std::string, size_t>> dumps;
  for (size_t i = 0; i < files.size(); ++i) dumps.emplace_back(StripExtension(files[i].path), i);
  std::sort(dumps.begin(), dumps.end());
  for (size_t i = 1; i < dumps.size(); ++i) {
    if (dumps[i].first != dumps[i - 1].first) continue;
    files[dumps[i].second].clash = files[dumps[i - 1].second].path;
    files[dumps[i - 1].second].clash = files[dumps[i].second].path;
  }
  return files;
}

// True when the dump (or, for a container, a member's dump) that an
// insertion would read is there.
bool HasDump(const TreeFile& file) {
  if (file.kind != TextFileKind::kContainer) return FileExists(StripExtension(file.path) + ".txt");
  Bytes data;
  ScelContainer container;
  if (!ReadWholeFile(file.path, data)) return true;  // the tool reports it
  if (!ParseScel(data, container).ok()) return true;
  for (size_t number = 0; number < container.members.size(); ++number) {
    if (FileExists(ScelMemberPath(file.path, number, "txt"))) return true;
  }
  return false;
}

bool ShareFlag(const std::string& option) { return std::atol(option.c_str()) != 0; }

bool DumpFile(const TreeFile& file, const std::string& option) {
  switch (file.kind) {
    case TextFileKind::kChat: return ExtractChtx(file.path, option);
    case TextFileKind::kTable: return ExtractScf(file.path, option);
    case TextFileKind::kScript:
    case TextFileKind::kContainer: return ScriptTextEntry(file.path, option, {.extract = true});
    case TextFileKind::kNone: break;
  }
  return false;
}

bool InsertFile(const TreeFile& file, const std::string& option) {
  switch (file.kind) {
    case TextFileKind::kChat: return InsertChtx(file.path, {.share = ShareFlag(option)});
    case TextFileKind::kTable: return InsertScf(file.path, {});
    case TextFileKind::kScript:
    case TextFileKind::kContainer: return ScriptTextEntry(file.path, option, {});
    case TextFileKind::kNone: break;
  }
  return false;
}

// Runs the insertion tool with its replacement caught, then writes the
// rebuilt file only when its texts differ (and not at all for a check).
FileOutcome InsertOrCheck(const TreeFile& file, const std::string& option, bool write) {
  if (!HasDump(file)) return FileOutcome::kNoDump;
  Bytes before;
  if (!ReadWholeFile(file.path, before)) {
    Printf("\nCan't open %s", file.path.c_str());
    return FileOutcome::kFailed;
  }
  std::optional<Bytes> rebuilt;
  Durability durability = Durability::kFlushToDisk;
  const ReplacementCatcher catcher = [&](const std::string& target, ByteSpan contents, Durability asked) {
    if (target != file.path) {
      Printf("\nERROR: %s would also write %s", file.path.c_str(), target.c_str());
      return false;
    }
    rebuilt.emplace(contents.begin(), contents.end());
    durability = asked;
    return true;
  };
  bool inserted = false;
  {
    ScopedReplacementCatcher scoped(&catcher);
    inserted = InsertFile(file, option);
  }
  if (!inserted) return FileOutcome::kFailed;
  if (!rebuilt || SameGameTexts(file.kind, before, *rebuilt)) return FileOutcome::kUnchanged;
  if (!write) return FileOutcome::kDone;
  return ReplaceFileSafely(file.path, *rebuilt, durability) ? FileOutcome::kDone : FileOutcome::kFailed;
}

// The PO words run on a file only when what they read is there: its dump
// for "dump2po", its PO file for "po2dump".
FileOutcome ConvertPo(const TreeFile& file, TreeWord word, const std::string& option) {
  if (word == TreeWord::kDumpToPo) {
    if (!HasDump(file)) return FileOutcome::kNoDump;
    return DumpToPo(file.path, option) ? FileOutcome::kDone : FileOutcome::kFailed;
  }
  if (!FileExists(StripExtension(file.path) + ".po")) return FileOutcome::kNoDump;
  bool changed = false;
  if (!PoToDump(file.path, option, &changed)) return FileOutcome::kFailed;
  return changed ? FileOutcome::kDone : FileOutcome::kUnchanged;
}

FileOutcome RunOnFile(const TreeFile& file, TreeWord word, const std::string& option) {
  if (!file.clash.empty()) {
    Printf("\nERROR: %s and %s would share the dump %s.txt; rename one of them", file.path.c_str(),
           file.clash.c_str(), StripExtension(file.path).c_str());
    return FileOutcome::kFailed;
  }
  switch (word) {
    case TreeWord::kDump: return DumpFile(file, option) ? FileOutcome::kDone : FileOutcome::kFailed;
    case TreeWord::kInsert:
    case TreeWord::kCheck: return InsertOrCheck(file, option, word == TreeWord::kInsert);
    case TreeWord::kDumpToPo:
    case TreeWord::kPoToDump: return ConvertPo(file, word, option);
  }
  return FileOutcome::kFailed;
}

const char* WordName(TreeWord word) {
  switch (word) {
    case TreeWord::kDump: return "dump";
    case TreeWord::kInsert: return "insert";
    case TreeWord::kCheck: return "check";
    case TreeWord::kDumpToPo: return "dump2po";
    case TreeWord::kPoToDump: return "po2dump";
  }
  return "";
}

// What the summary calls the files passed over for want of their input.
const char* MissingInput(TreeWord word) { return word == TreeWord::kPoToDump ? "a PO file" : "a dump"; }

const char* OutcomeWord(FileOutcome outcome, TreeWord word) {
  switch (outcome) {
    case FileOutcome::kDone:
      return word == TreeWord::kDump ? "dumped" : word == TreeWord::kCheck ? "would be written" : "written";
    case FileOutcome::kUnchanged: return "unchanged";
    case FileOutcome::kNoDump: return word == TreeWord::kPoToDump ? "no PO file" : "no dump";
    case FileOutcome::kFailed: return "failed";
  }
  return "failed";
}

const char* FilesWord(size_t count) { return count == 1 ? "file" : "files"; }

// Selects the tables the word's tools read, once for the whole run; when the
// current directory has none, the tree's own directory is looked in first.
bool SelectTables(TreeWord word, const std::string& root, std::vector<SelectedTable>& tables) {
  std::vector<const char*> names = {kGameCodesFile};
  if (word == TreeWord::kInsert || word == TreeWord::kCheck) names.push_back(kTranslatorCodesFile);
  for (const char* name : names) {
    SelectedTable selected{name, {}};
    const std::string within = platform::IsDirectory(root) ? JoinPath(root, "") : root;
    if (!SelectCodeTable(name, within, selected.table)) return false;
    tables.push_back(std::move(selected));
  }
  return true;
}

}  // namespace

TextFileKind SniffTextFile(ByteSpan head) {
  if (StartsWith(head, AsText(kChtxMagic))) {
    return TextFileKind::kChat;
  }
  if (StartsWith(head, AsText(kScelMagic))) {
    return TextFileKind::kContainer;
  }
  if (StartsWith(head, AsText(kTssMagic))) {
    return TextFileKind::kScript;
  }
  if (StartsWith(head, "SCFOMBIN")) return TextFileKind::kTable;
  return TextFileKind::kNone;
}

namespace {

// Adds the regular files below `directory` (written with '/') to `files`,
// passing over symbolic links (never followed out of the tree), the
// temporary files of an interrupted replacement and backups. Through the
// platform layer, so that names in any characters are read on every system.
bool AddTreeFiles(const std::string& directory, std::vector<std::string>& files) {
  std::vector<platform::DirectoryItem> items;
  if (!platform::ListDirectory(directory, items)) {
    Printf("\nERROR: can't read the directory %s", directory.c_str());
    return false;
  }
  for (const platform::DirectoryItem& item : items) {
    const std::string path = directory + "/" + item.name;
    if (platform::IsSymbolicLink(path)) continue;
    if (item.directory) {
      if (!AddTreeFiles(path, files)) return false;
      continue;
    }
    if (item.name.find(kTemporaryMark) != std::string::npos || item.name.ends_with(kBackupEnding)) continue;
    if (platform::IsRegularFile(path)) files.push_back(path);
  }
  return true;
}

}  // namespace

bool ListTreeFiles(const std::string& root, std::vector<std::string>& files) {
  files.clear();
  if (!platform::IsSymbolicLink(root) && platform::IsRegularFile(root)) {
    files.push_back(root);
    return true;
  }
  if (platform::IsSymbolicLink(root) || !platform::IsDirectory(root)) {
    Printf("\nCan't open %s", root.c_str());
    return false;
  }
  // Paths are written with '/' on every system (Windows takes both), so
  // that a run prints the same lines everywhere.
  std::string directory = root;
#ifdef _WIN32
  std::replace(directory.begin(), directory.end(), '\\', '/');
#endif
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (!AddTreeFiles(directory, files)) return false;
  std::sort(files.begin(), files.end());
  return true;
}

bool RunTextTree(const std::string& root, TreeWord word, const std::string& option, unsigned workers) {
  // A PO word's option is judged once, not refused by every file.
  if ((word == TreeWord::kDumpToPo || word == TreeWord::kPoToDump) &&
      !CheckPoOption(word == TreeWord::kDumpToPo, option)) {
    return false;
  }
  std::vector<std::string> paths;
  if (!ListTreeFiles(root, paths)) return false;
  const std::vector<TreeFile> files = FindTextFiles(paths);
  if (files.empty()) Warnf("NOTE: no game text file under %s", root.c_str());
  std::vector<SelectedTable> tables;
  if (!files.empty() && !SelectTables(word, root, tables)) return false;
  const ScopedSelectedTables selected(tables);
  // The limits are read once too, and only by the words that insert.
  TextLimits limits;
  if (!files.empty() && word != TreeWord::kDump &&
      !SelectTextLimits(platform::IsDirectory(root) ? JoinPath(root, "") : root, limits)) {
    return false;
  }
  const ScopedSelectedLimits selectedLimits(limits);
  const size_t overLimitsBefore = TextsOverLimitsReported();
  std::optional<ScopedDumpCheck> checking;
  if (word == TreeWord::kCheck) checking.emplace();

  // Each file's text is kept whole while it is worked on and printed in
  // path order, whatever the number of threads.
  const size_t count = files.size();
  // Each thread replaces one file at a time; the interrupt handler keeps
  // track of a bounded number of replacements in progress.
  constexpr unsigned kMaxThreads = 32;
  const unsigned threads = std::min(WorkerCount(workers, count), kMaxThreads);
  const size_t slotCount = 2 * size_t(threads);
  std::vector<std::unique_ptr<BufferedReporter>> buffers(slotCount);
  std::vector<FileOutcome> outcomes(slotCount);
  size_t tally[4] = {};
  ProgressMeter progress(WordName(word), count, "files");
  Reporter& reporter = CurrentReporter();
  ProcessBlocksInOrder(
      count, threads, slotCount,
      [&](unsigned, size_t index) {
        auto buffer = std::make_unique<BufferedReporter>();
        {
          ScopedReporter scoped(*buffer);
          outcomes[index % slotCount] = RunOnFile(files[index], word, option);
        }
        buffers[index % slotCount] = std::move(buffer);
        progress.Advance();
      },
      [&](size_t index) {
        const FileOutcome outcome = outcomes[index % slotCount];
        ++tally[size_t(outcome)];
        if (outcome == FileOutcome::kFailed) reporter.MarkFailed();
        Printf("\n%s: %s", files[index].path.c_str(), OutcomeWord(outcome, word));
        buffers[index % slotCount]->ReplayTo(reporter);
        buffers[index % slotCount].reset();
      });

  const size_t failed = tally[size_t(FileOutcome::kFailed)];
  const size_t done = tally[size_t(FileOutcome::kDone)];
  if (word == TreeWord::kDump) {
    Printf("\n%zu %s: %zu dumped, %zu failed", count, FilesWord(count), done, failed);
  } else {
    Printf("\n%zu %s: %zu %s, %zu unchanged, ", count, FilesWord(count), done,
           word == TreeWord::kCheck ? "to write" : "written", tally[size_t(FileOutcome::kUnchanged)]);
    if (const size_t noDump = tally[size_t(FileOutcome::kNoDump)]; noDump != 0) {
      Printf("%zu without %s, ", noDump, MissingInput(word));
    }
    Printf("%zu failed", failed);
  }
  // A check tells texts over a limit by its exit status (insert only warns).
  if (word == TreeWord::kCheck && TextsOverLimitsReported() != overLimitsBefore) reporter.MarkOverLimits();
  return failed == 0;
}

}  // namespace fpskit

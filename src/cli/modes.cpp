#include "cli/modes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/format.h"
#include "text/chtx/chtx.h"
#include "tools/text/po_tool.h"
#include "text/scel/scel.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/scel_tool.h"
#include "tools/text/scf_tools.h"
#include "tools/tree.h"
#include "util/console.h"
#include "util/platform.h"
#include "util/reporter.h"

namespace fpskit {
namespace {

using ToolFunction = bool (*)(const std::string& mode, const std::string& path, const std::string& option);

struct ModeRow {
  const char* word;
  ToolFunction run;
};

// "1" (or any non-zero leading integer) in the option lets identical strings
// share one copy when chat text is written back.
bool ShareFlag(const std::string& option) { return std::atol(option.c_str()) != 0; }

// Tried in this order; the first exact match wins.
constexpr ModeRow kModeTable[] = {
    {"unfps", [](const std::string&, const std::string& path, const std::string&) { return UnpackArchive(path); }},
    {"fps", [](const std::string&, const std::string& path, const std::string&) { return RepackArchive(path); }},
    {"uncht", [](const std::string&, const std::string& path, const std::string& option) {
       return ExtractChtx(path, option);
     }},
    {"cht_switch", [](const std::string&, const std::string& path, const std::string& option) {
       return InsertChtx(path, {.share = ShareFlag(option), .swap = true});
     }},
    {"cht", [](const std::string&, const std::string& path, const std::string& option) {
       return InsertChtx(path, {.share = ShareFlag(option)});
     }},
    {"untss2", [](const std::string&, const std::string& path, const std::string& option) {
       return ScriptTextEntry(path, option, {.extract = true, .rawMembers = true});
     }},
    {"tss2", [](const std::string&, const std::string& path, const std::string& option) {
       return ScriptTextEntry(path, option, {.rawMembers = true});
     }},
    {"untss", [](const std::string&, const std::string& path, const std::string& option) {
       return ScriptTextEntry(path, option, {.extract = true});
     }},
    {"tss_switch", [](const std::string&, const std::string& path, const std::string& option) {
       return ScriptTextEntry(path, option, {.swap = true});
     }},
    {"tss", [](const std::string&, const std::string& path, const std::string& option) {
       return ScriptTextEntry(path, option, {});
     }},
    {"unscf", [](const std::string&, const std::string& path, const std::string& option) {
       return ExtractScf(path, option);
     }},
    {"scf_switch", [](const std::string&, const std::string& path, const std::string&) {
       return InsertScf(path, {.swap = true});
     }},
    {"scf", [](const std::string&, const std::string& path, const std::string&) {
       return InsertScf(path, {});
     }},
    // Added to the thirteen: lists what unfps writes and fps takes.
    {"lsfps", [](const std::string&, const std::string& path, const std::string&) { return ListArchive(path); }},
    // Tree words: every game text file under a directory (or one file).
    {"dump", [](const std::string&, const std::string& path, const std::string& option) {
       return RunTextTree(path, TreeWord::kDump, option);
     }},
    {"insert", [](const std::string&, const std::string& path, const std::string& option) {
       return RunTextTree(path, TreeWord::kInsert, option);
     }},
    {"check", [](const std::string&, const std::string& path, const std::string& option) {
       return RunTextTree(path, TreeWord::kCheck, option);
     }},
    // Translation tools: a dump as a gettext PO file, and back; over a tree
    // when PATH is a directory.
    {"dump2po", [](const std::string&, const std::string& path, const std::string& option) {
       return platform::IsDirectory(path) ? RunTextTree(path, TreeWord::kDumpToPo, option) : DumpToPo(path, option);
     }},
    {"po2dump", [](const std::string&, const std::string& path, const std::string& option) {
       return platform::IsDirectory(path) ? RunTextTree(path, TreeWord::kPoToDump, option) : PoToDump(path, option);
     }},
};

}  // namespace

DispatchResult ModeDispatcher(const std::string& mode, const std::string& path, const std::string& option) {
  for (const ModeRow& row : kModeTable) {
    if (mode != row.word) continue;
    // Running out of memory is a failure like any other: the tool's buffers
    // and files are released on the way out (a half-written replacement
    // removes its temporary file), and the input stays as it was.
    try {
      return row.run(mode, path, option) ? DispatchResult::kSuccess : DispatchResult::kToolFailed;
    } catch (const std::bad_alloc&) {
      Print("\nERROR: out of memory");
      return DispatchResult::kToolFailed;
    }
  }
  Print("\nWRONG MODE\n");
  return DispatchResult::kWrongMode;
}

void PrintUsage(bool help) {
  Print("\nUsage: *.exe  unfps  / fps               anyfile");
  // The listing word and the tree words are told of by --help; the usage
  // text that scripts meet after a wrong command line stays as it always was.
  if (help) Print("\nUsage: *.exe  lsfps                     anyfile");
  Print("\nUsage: *.exe  uncht  / cht / cht_switch  ZK6CHTX     [ansi/utf8/1]");
  Print("\nUsage: *.exe  untss2 / tss2              ZK6SCEL");
  Print("\nUsage: *.exe  untss  / tss / tss_switch  TSS/ZK6SCEL [ansi/utf8]");
  Print("\nUsage: *.exe  unscf  / scf / scf_switch  SCFOMBIN    [ansi/utf8]");
  if (help) Print("\nUsage: *.exe  dump   / insert / check    DIR or file [utf8/1]");
  // So are the translation words.
  if (help) Print("\nUsage: *.exe  dump2po / po2dump         DIR or file [en/pot] / [fuzzy]");
  Print("\n");
}

int RunCommandLine(int argc, const char* const* argv) {
  // The game's text is not Unicode; the tools work on bytes and only need the
  // C runtime's locale set to a Russian one when the system has any.
  platform::SetRussianLocale();
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(true);
    std::fflush(stdout);
    return kExitSuccess;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    Print("fpskit " FPSKIT_VERSION "\n");
    std::fflush(stdout);
    return kExitSuccess;
  }
  if (argc < 3) {
    PrintUsage(false);
    std::fflush(stdout);
    return kExitUsage;
  }
  const std::string option = argc >= 4 ? argv[3] : "0";
  const DispatchResult result = ModeDispatcher(argv[1], argv[2], option);
  Print("\n");
  std::fflush(stdout);
  switch (result) {
    // A run marked failed on the console (a file of a tree run) fails too.
    case DispatchResult::kSuccess:
      if (CurrentReporter().failed()) return kExitToolFailed;
      return CurrentReporter().overLimits() ? kExitOverLimits : kExitSuccess;
    case DispatchResult::kToolFailed: return kExitToolFailed;
    case DispatchResult::kWrongMode: return kExitWrongMode;
  }
  return kExitToolFailed;
}

}  // namespace fpskit

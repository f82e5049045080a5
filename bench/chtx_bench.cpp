// Dump and re-insertion of a 4 MiB chat file through a Shift-JIS table of
// thousands of rows: in memory, and as "uncht" + "cht 1" on files.
//
//   chtx_bench                     run the benchmarks
//   chtx_bench --write-input DIR   write DIR/chat.cht and DIR/JPCODES.TXT, for
//                                  timing the whole "uncht" process against iconv
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/temp_dir.h"
#include "text/chtx/chtx.h"
#include "tools/text/chtx_tool.h"

namespace fpskit {
namespace {

constexpr size_t kChatSize = 4 << 20;

struct Inputs {
  std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  CodeTable table = MakeCodeTable(rows);
  Bytes chat = support::MakeShiftJisChat(kChatSize, 1, rows);
};

const Inputs& GetInputs() {
  static const Inputs inputs;
  return inputs;
}

void ChtxDumpInMemory(benchmark::State& state) {
  const Inputs& in = GetInputs();
  for (auto _ : state) {
    ChtxFile chtx;
    if (!ParseChtx(in.chat, chtx).ok()) return state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(BuildChtxDump(chtx, in.table, true).text.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * in.chat.size()));
  state.counters["rows"] = double(in.rows.size());
}
BENCHMARK(ChtxDumpInMemory)->Unit(benchmark::kMillisecond);

void ChtxInsertInMemory(benchmark::State& state) {
  const Inputs& in = GetInputs();
  ChtxFile chtx;
  if (!ParseChtx(in.chat, chtx).ok()) return state.SkipWithError("parse failed");
  InsertionInputs inputs;
  inputs.gameCodes = in.table;
  inputs.translatorCodes = BuiltInCodeTable();
  inputs.dumpName = "chat.txt";
  inputs.dump = BuildChtxDump(chtx, in.table, true).text;
  Bytes rebuilt;
  for (auto _ : state) {
    if (!RebuildChtx(chtx, inputs, ChtxInsertion{true, false}, rebuilt)) return state.SkipWithError("rebuild failed");
    benchmark::DoNotOptimize(rebuilt.data());
  }
  if (rebuilt != in.chat) state.SkipWithError("the round trip changed the file");
  state.SetBytesProcessed(int64_t(state.iterations() * in.chat.size()));
}
BENCHMARK(ChtxInsertInMemory)->Unit(benchmark::kMillisecond);

// The whole tools, as a translator runs them: tables loaded from
// JPCODES.TXT, files read and written safely (flushed to disk).
void ChtxDumpAndInsertFiles(benchmark::State& state) {
  const Inputs& in = GetInputs();
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  if (!support::WriteTestFile("JPCODES.TXT", support::CodeTableText(in.rows, true)) ||
      !support::WriteTestFile("chat.cht", in.chat)) {
    return state.SkipWithError("cannot write the inputs");
  }
  for (auto _ : state) {
    if (!ExtractChtx("chat.cht", "utf8") || !InsertChtx("chat.cht", {.share = true})) {
      return state.SkipWithError("tool failed");
    }
  }
  if (support::ReadTestFile("chat.cht") != in.chat) state.SkipWithError("the round trip changed the file");
  state.SetBytesProcessed(int64_t(state.iterations() * in.chat.size()));
}
BENCHMARK(ChtxDumpAndInsertFiles)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace fpskit

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-input") == 0) {
    const auto& in = fpskit::GetInputs();
    const std::string dir = argv[2];
    return fpskit::support::WriteTestFile(dir + "/chat.cht", in.chat) &&
                   fpskit::support::WriteTestFile(dir + "/JPCODES.TXT", fpskit::support::CodeTableText(in.rows, true))
               ? 0
               : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Conversion speed through a table of every Shift-JIS double-byte code: 4 MiB
// of Shift-JIS text to UTF-8 (extraction) and back (insertion, swapped).
//
//   convert_bench                      run the benchmarks
//   convert_bench --write-input FILE   write the Shift-JIS input, for the iconv comparison
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "codetable/codetable.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace fpskit {
namespace {

constexpr size_t kTextSize = 4 << 20;

struct Inputs {
  std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  CodeTable table = MakeCodeTable(rows);
  Bytes shiftJis = support::ShiftJisText(kTextSize, 1, rows);
  Bytes utf8 = ConvertSequences(shiftJis, false, table);
};

const Inputs& GetInputs() {
  static const Inputs inputs;
  return inputs;
}

void BM_ConvertShiftJisToUtf8(benchmark::State& state) {
  const Inputs& in = GetInputs();
  for (auto _ : state) benchmark::DoNotOptimize(ConvertSequences(in.shiftJis, false, in.table));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.shiftJis.size()));
  state.counters["rows"] = double(in.rows.size());
}
BENCHMARK(BM_ConvertShiftJisToUtf8)->Unit(benchmark::kMillisecond);

void BM_ConvertUtf8ToShiftJis(benchmark::State& state) {
  const Inputs& in = GetInputs();
  for (auto _ : state) benchmark::DoNotOptimize(ConvertSequences(in.utf8, true, in.table));
  // Counted in Shift-JIS bytes, so both directions compare on the same text.
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.shiftJis.size()));
}
BENCHMARK(BM_ConvertUtf8ToShiftJis)->Unit(benchmark::kMillisecond);

void BM_BuildTableIndex(benchmark::State& state) {
  const Inputs& in = GetInputs();
  for (auto _ : state) {
    // A table builds a column's index when a conversion first needs it.
    const CodeTable table = MakeCodeTable(in.rows);
    benchmark::DoNotOptimize(ConvertSequences({}, false, table));
    benchmark::DoNotOptimize(ConvertSequences({}, true, table));
  }
}
BENCHMARK(BM_BuildTableIndex)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fpskit

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-input") == 0) {
    return fpskit::support::WriteTestFile(argv[2], fpskit::GetInputs().shiftJis) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

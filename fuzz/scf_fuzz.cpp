// SCFOMBIN parsing and rebuilding on arbitrary bytes: the input is read both
// as a SCFOMBIN file and as its dump, and the blocks found are written back
// into the file.
#include <cstddef>
#include <cstdint>

#include "text/scf/scf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  const ByteSpan input(data, size);
  ScfHeader header;
  if (!ParseScfHeader(input, header).ok() || !header.HasTextTable()) return 0;
  std::vector<ScfRecord> records;
  std::vector<uint32_t> tags;
  if (ParseScfEntries(input, header, records).ok()) {
    Bytes dump;
    ScfDumpProgress progress;
    for (const ScfRecord& record : records) {
      AppendScfBlock(dump, record, BuiltInCodeTable(), progress);
      tags.push_back(record.tag);
    }
  }
  InsertionInputs inputs;
  inputs.gameCodes = BuiltInCodeTable();
  inputs.translatorCodes = BuiltInCodeTable();
  inputs.dumpName = "fuzz.txt";
  inputs.dump.assign(input.begin(), input.end());
  const ScfDump dump = ParseScfDump(inputs, size % 2 == 1, tags);
  if (dump.ok()) {
    Bytes rebuilt;
    BuildScfFile(input, header, dump.blocks, rebuilt);
  }
  return 0;
}

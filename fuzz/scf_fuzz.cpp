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
  if (ReadScfHeader(input, header) != ScfHeaderStatus::kValid) return 0;
  std::vector<ScfRecord> records;
  std::vector<uint32_t> tags;
  if (ReadScfEntries(input, header, records)) {
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
  std::vector<ScfBlock> blocks;
  if (ParseScfDump(inputs, size % 2 == 1, tags, blocks)) {
    Bytes rebuilt;
    BuildScfFile(input, header, blocks, rebuilt);
  }
  return 0;
}

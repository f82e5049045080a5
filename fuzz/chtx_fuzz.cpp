// ZK6CHTX parsing, dumping and rebuilding on arbitrary bytes: the input is
// read as a chat file, dumped, and rebuilt both from its own dump (which must
// succeed, give a file that parses again and, without the JP/EN exchange,
// dump to the same text) and from the input read as a dump.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "text/chtx/chtx.h"
#include "tools/text/chtx_tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  const ByteSpan input(data, size);
  ChtxFile chtx;
  if (!ParseChtx(input, chtx).ok()) return 0;
  const ChtxDump dump = BuildChtxDump(chtx, BuiltInCodeTable(), size % 2 == 1);
  InsertionInputs inputs;
  inputs.gameCodes = BuiltInCodeTable();
  inputs.translatorCodes = BuiltInCodeTable();
  inputs.dumpName = "fuzz.txt";
  ChtxInsertion insertion;
  insertion.share = size % 3 == 0;
  insertion.swap = size % 5 == 0;
  Bytes rebuilt;
  if (dump.splitRecords.empty()) {
    inputs.dump = dump.text;
    if (!RebuildChtx(chtx, inputs, insertion, rebuilt)) std::abort();
    ChtxFile again;
    if (!ParseChtx(rebuilt, again).ok()) std::abort();
    if (!insertion.swap && BuildChtxDump(again, BuiltInCodeTable(), size % 2 == 1).text != dump.text) std::abort();
  }
  inputs.dump.assign(input.begin(), input.end());
  RebuildChtx(chtx, inputs, insertion, rebuilt);
  return 0;
}

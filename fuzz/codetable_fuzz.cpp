// Parses arbitrary bytes as a code table and converts them through the result
// in both directions.
#include <cstddef>
#include <cstdint>

#include "codetable/codetable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fpskit::ByteSpan bytes(data, size);
  fpskit::CodeTable table;
  if (!fpskit::ParseCodeTable(bytes, "fuzz", table).ok()) table = fpskit::BuiltInCodeTable();
  fpskit::ConvertSequences(bytes, false, table);
  fpskit::ConvertSequences(bytes, true, table);
  return 0;
}

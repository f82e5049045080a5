// Parses arbitrary bytes as a limits file and measures the same bytes, as a
// text's game bytes, against every rule of the result.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fpskit::ByteSpan bytes(data, size);
  fpskit::TextLimits limits;
  size_t line = 0;
  std::string error;
  if (!fpskit::ParseTextLimits(bytes, limits, line, error)) return 0;
  for (const fpskit::LimitRule& rule : limits.rules) {
    for (const fpskit::LimitExcess& excess : fpskit::MeasureText(limits, rule, bytes)) fpskit::DescribeExcess(excess);
  }
  return 0;
}

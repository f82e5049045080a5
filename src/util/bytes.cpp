#include "util/bytes.h"

#include <cstring>

namespace fpskit {

bool TerminatedStringAt(ByteSpan data, uint64_t offset, ByteSpan& out) {
  if (offset >= data.size()) return false;
  const uint8_t* start = data.data() + offset;
  const void* nul = std::memchr(start, 0, data.size() - size_t(offset));
  if (nul == nullptr) return false;
  out = ByteSpan(start, size_t(static_cast<const uint8_t*>(nul) - start));
  return true;
}

}  // namespace fpskit

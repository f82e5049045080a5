// ZK6SCEL containers on arbitrary bytes: the table is read, every member
// decoded, and the container built again from the decoded members; the new
// container must parse and its members decode to exactly those contents,
// the same on one thread and on two.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "text/scel/scel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  const ByteSpan file(data, size);
  ScelContainer container;
  if (!ParseScel(file, container).ok()) return 0;
  std::vector<Bytes> members(container.members.size());
  for (size_t n = 0; n < members.size(); ++n) DecodeScelMember(file, container, n, members[n]);

  Bytes rebuilt;
  if (!BuildScel(file, container, members, 1, rebuilt).ok()) return 0;
  ScelContainer again;
  FUZZ_CHECK(ParseScel(rebuilt, again).ok() && again.members.size() == members.size());
  Bytes member;
  for (size_t n = 0; n < members.size(); ++n) {
    FUZZ_CHECK(DecodeScelMember(rebuilt, again, n, member).ok() && member == members[n]);
  }
  if (size % 8 == 0) {
    Bytes twoThreads;
    FUZZ_CHECK(BuildScel(file, container, members, 2, twoThreads).ok() && twoThreads == rebuilt);
  }
  return 0;
}

// "tss", "tss_switch" and "tss2" on a container: every member decoded, its
// dump written back or its edited file taken, then encoded again.
#include <atomic>

#include "text/scel/scel.h"
#include "text/tss/tss.h"
#include "tools/text/scel_tool.h"
#include "tools/text/text_tool.h"
#include "tools/text/tss_tool.h"
#include "util/console.h"
#include "util/files.h"
#include "util/parallel.h"
#include "util/paths.h"

namespace fpskit {

bool MergeScel(const std::string& path, bool raw, bool swap, unsigned workers) {
  Bytes file;
  ScelContainer container;
  if (!ReadScelFile(path, file, container)) return false;

  // Every member is decoded, in both modes, so that a damaged container is
  // found before it is replaced. The dumps and files are taken in member
  // order, which keeps the lines and messages in order.
  const size_t count = container.members.size();
  const unsigned threads = WorkerCount(workers, count);
  std::vector<Bytes> members(count);
  std::vector<ScelFailure> status(count);
  TssTables tables;
  tables.gameFile = path;
  std::atomic<bool> failed{false};
  ProcessBlocksInOrder(
      count, threads, count,
      [&](unsigned, size_t number) {
        if (!failed || CheckingWholeDump()) status[number] = DecodeScelMember(file, container, number, members[number]);
      },
      [&](size_t number) {
        if (failed && !CheckingWholeDump()) return;
        Printf("\n+ %s", FileNameOf(ScelMemberPath(path, number, raw ? "bin" : "txt")).c_str());
        if (!status[number].ok()) {
          ReportScelFailure(status[number]);
          failed = true;
          return;
        }
        if (raw) {
          // An edited member file replaces the member; without one the
          // member goes back as it was.
          const std::string binPath = ScelMemberPath(path, number, "bin");
          if (FileExists(binPath) && !ReadWholeFile(binPath, members[number])) {
            Printf("\nCan't open %s", binPath.c_str());
            failed = true;
          }
          return;
        }
        Bytes rebuilt;
        const TssOutcome outcome =
            InsertTssDump(members[number], ScelMemberPath(path, number, "dec"), swap, tables, rebuilt);
        if (outcome == TssOutcome::kDone) members[number] = std::move(rebuilt);
        if (outcome == TssOutcome::kFailed) failed = true;
      });
  if (failed) return false;

  Bytes rebuilt;
  if (const ScelFailure failure = BuildScel(file, container, members, workers, rebuilt); !failure.ok()) {
    ReportScelFailure(failure);
    return false;
  }
  return ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit

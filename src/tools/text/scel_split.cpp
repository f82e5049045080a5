// "untss" and "untss2" on a container: every member decoded, then dumped or
// written as it stands.
#include "codetable/lines.h"
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

bool SplitScel(const std::string& path, const std::string& option, bool raw, unsigned workers) {
  Bytes file;
  ScelContainer container;
  if (!ReadScelFile(path, file, container)) return false;
  const std::string directory = StripExtension(path);
  if (!MakeDirectory(directory)) {
    Printf("\nERROR: can't create the directory %s", directory.c_str());
    return false;
  }
  CodeTable gameCodes;
  if (!raw && !SelectCodeTable(kGameCodesFile, path, gameCodes)) return false;
  const bool byteOrderMark = WantsByteOrderMark(option.c_str());

  // Members are decoded side by side; each is written (or dumped) in member
  // order, so the lines and messages come in that order.
  const size_t count = container.members.size();
  const unsigned threads = WorkerCount(workers, count);
  const size_t slotCount = 2 * size_t(threads);
  std::vector<Bytes> decoded(slotCount);
  std::vector<ScelFailure> status(slotCount);
  bool ok = true;
  ProcessBlocksInOrder(
      count, threads, slotCount,
      [&](unsigned, size_t number) {
        status[number % slotCount] = DecodeScelMember(file, container, number, decoded[number % slotCount]);
      },
      [&](size_t number) {
        Bytes& member = decoded[number % slotCount];
        const std::string memberPath = ScelMemberPath(path, number, raw ? "bin" : "dec");
        Printf("\n%s", FileNameOf(ScelMemberPath(path, number, raw ? "bin" : "txt")).c_str());
        if (!status[number % slotCount].ok()) {
          // A member that decoded only in part is not written: a merge would
          // take the partial file for the member.
          ReportScelFailure(status[number % slotCount]);
          ok = false;
        } else if (raw) {
          ok = ReplaceFileSafely(memberPath, member, Durability::kRenameOnly) && ok;
        } else {
          ok = WriteTssDump(member, memberPath, byteOrderMark, gameCodes) && ok;
        }
        Bytes().swap(member);
      });
  return ok;
}

}  // namespace fpskit

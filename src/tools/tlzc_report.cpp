#include "tools/tlzc_report.h"

#include "util/console.h"

namespace fpskit {

bool ReportTlzcDecode(const TlzcDecodeResult& result) {
  for (size_t i = 0; i < result.streamsEndedEarly; ++i) Print("\nSome error, check the code\n");
  if (result.status == TlzcStreamResult::kIncomplete) Print("\nDECOMPRESS FAILED\n");
  return result.ok();
}

}  // namespace fpskit

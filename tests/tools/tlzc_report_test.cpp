#include "tools/tlzc_report.h"

#include <gtest/gtest.h>

#include <string>

#include "support/recording_reporter.h"

namespace fpskit {
namespace {

TEST(ReportTlzcDecode, WordsEveryBlockThatEndedEarlyThenTheFailure) {
  const std::string ended = "\nSome error, check the code\n";
  const std::string failed = "\nDECOMPRESS FAILED\n";
  struct Case {
    TlzcDecodeResult result;
    std::string output;
  };
  const Case cases[] = {
      {{TlzcStreamResult::kComplete, 0}, ""},
      {{TlzcStreamResult::kIncomplete, 0}, failed},
      {{TlzcStreamResult::kIncomplete, 2}, ended + ended + failed},
      // Ended by the consumer or the reader: the caller words that.
      {{TlzcStreamResult::kStopped, 1}, ended},
      {{TlzcStreamResult::kReadFailed, 0}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.result.status));
    support::RecordingReporter recorder;
    EXPECT_EQ(ReportTlzcDecode(c.result), c.result.status == TlzcStreamResult::kComplete);
    EXPECT_EQ(recorder.output(), c.output);
    EXPECT_EQ(recorder.notices(), "");
  }
}

}  // namespace
}  // namespace fpskit

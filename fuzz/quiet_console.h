// The tools a fuzz target runs word their messages through the reporter of
// the calling thread. A target that runs them installs this one, which keeps
// their text off the console: thousands of runs a second would bury
// libFuzzer's own lines. The codecs and formats print nothing themselves.
#pragma once

#include <string_view>

#include "util/reporter.h"

namespace fpskit::fuzz {

class DiscardingReporter final : public Reporter {
 public:
  void Output(std::string_view) override {}
  void Notice(std::string_view) override {}
};

// Installs a DiscardingReporter for the calling thread while it lives.
class QuietConsole {
 public:
  QuietConsole() : scope_(reporter_) {}

 private:
  DiscardingReporter reporter_;
  ScopedReporter scope_;
};

}  // namespace fpskit::fuzz

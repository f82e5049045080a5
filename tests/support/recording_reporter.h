// A reporter that keeps what a tool printed, so that a test can look at it
// instead of capturing standard output: install it for the calling thread
// with ScopedReporter, then read output() (standard output's text, in order)
// and notices() (standard error's lines).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/reporter.h"

namespace fpskit::support {

class RecordingReporter final : public Reporter {
 public:
  void Output(std::string_view text) override { output_ += text; }
  void Notice(std::string_view line) override { notices_.emplace_back(line); }

  const std::string& output() const { return output_; }
  const std::vector<std::string>& notices() const { return notices_; }

 private:
  std::string output_;
  std::vector<std::string> notices_;
};

}  // namespace fpskit::support

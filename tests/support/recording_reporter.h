// A reporter that keeps what a tool prints, installed on the calling thread
// for its lifetime (helper threads print through it too), so that a test sees
// a tool's console text and notices as returned values.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "util/reporter.h"

namespace fpskit::support {

class RecordingReporter final : public Reporter {
 public:
  void Output(std::string_view text) override {
    std::lock_guard<std::mutex> hold(lock_);
    output_ += text;
  }
  void Notice(std::string_view line) override {
    std::lock_guard<std::mutex> hold(lock_);
    notices_ += line;
    notices_ += '\n';
  }

  // Standard output's text, as the tools print it.
  std::string output() const {
    std::lock_guard<std::mutex> hold(lock_);
    return output_;
  }
  // Standard error's lines, each ended by a line feed.
  std::string notices() const {
    std::lock_guard<std::mutex> hold(lock_);
    return notices_;
  }

 private:
  mutable std::mutex lock_;
  std::string output_;
  std::string notices_;
  ScopedReporter installed_{*this};
};

}  // namespace fpskit::support

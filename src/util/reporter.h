// The reporter owns the console: every tool hands it its console text
// (through Print, Printf, Warn and Warnf in util/console.h) and it decides
// where the text goes. The process's console reporter writes standard output
// and standard error as the text comes; a BufferedReporter keeps one file's
// text in order while that file is worked on another thread, so that a run
// over many files prints each file's text whole, in path order.
#pragma once

#include "util/tools_only.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fpskit {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // Text for standard output, as the tools print it (lines begin with "\n").
  virtual void Output(std::string_view text) = 0;
  // One whole line for standard error, without its line feed.
  virtual void Notice(std::string_view line) = 0;

  // A run that fails marks it here; the exit status follows it.
  void MarkFailed() { failed_ = true; }
  bool failed() const { return failed_; }
  // A check that found texts over the team's limits (and nothing worse)
  // marks it here; its exit status is 3.
  void MarkOverLimits() { overLimits_ = true; }
  bool overLimits() const { return overLimits_; }

 private:
  std::atomic<bool> failed_{false};
  std::atomic<bool> overLimits_{false};
};

// Writes standard output and standard error. When standard error is a
// terminal it can also show one progress line, which it clears before any
// other text and at the end of the run; nothing of it reaches a pipe or a
// file. Safe to call from several threads.
class ConsoleReporter final : public Reporter {
 public:
  ConsoleReporter();
  ~ConsoleReporter() override;
  void Output(std::string_view text) override;
  void Notice(std::string_view line) override;
  bool showsProgress() const { return terminal_; }
  // Replaces the progress line with `line`; an empty line clears it.
  void Progress(std::string_view line);

 private:
  void ClearProgressLocked();

  std::mutex lock_;
  bool terminal_ = false;
  bool progressShown_ = false;
  bool progressBelow_ = false;  // the progress line was opened below unfinished text
  size_t column_ = 0;           // bytes written since the last line feed
};

// The console reporter of the process.
ConsoleReporter& Console();

// The reporter of the calling thread: the console unless a ScopedReporter
// has installed another.
Reporter& CurrentReporter();

// Installs `reporter` for the calling thread for its lifetime.
class ScopedReporter {
 public:
  explicit ScopedReporter(Reporter& reporter);
  ~ScopedReporter();
  ScopedReporter(const ScopedReporter&) = delete;
  ScopedReporter& operator=(const ScopedReporter&) = delete;

 private:
  Reporter* previous_;
};

// Keeps the text it receives, in order, until ReplayTo hands it on.
class BufferedReporter final : public Reporter {
 public:
  void Output(std::string_view text) override;
  void Notice(std::string_view line) override;
  void ReplayTo(Reporter& target) const;

 private:
  struct Piece {
    bool notice;
    std::string text;
  };
  std::vector<Piece> pieces_;
};

// A progress line "<label>: <done>/<total> <unit>" on the console, drawn a few
// times a second at most and cleared when the meter ends; nothing at all when
// standard error is no terminal or `shown` is false (a nested run inside one
// that already shows its own). Advance and SetDone may be called from any
// thread.
class ProgressMeter {
 public:
  ProgressMeter(std::string label, uint64_t total, std::string unit, bool shown = true);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;
  void Advance(uint64_t amount = 1);
  void SetDone(uint64_t done);

 private:
  void Draw(uint64_t done);

  std::string label_;
  uint64_t total_;
  std::string unit_;
  bool active_;
  std::atomic<uint64_t> done_{0};
  std::mutex lock_;
  std::chrono::steady_clock::time_point nextDraw_;
};

}  // namespace fpskit

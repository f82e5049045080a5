#include "util/reporter.h"

#include <cstdio>
#include <string>
#include <utility>

#include "util/platform.h"

namespace fpskit {
namespace {

thread_local Reporter* currentReporter = nullptr;

// "\r", the text, then erase to the end of the line.
constexpr const char* kEraseLine = "\r\033[K";
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

// A console window gets the text in its own characters (every path shows
// right, whatever its code page); a file or a pipe gets the bytes as they are.
void Write(std::FILE* stream, std::string_view text) {
  if (!platform::WriteToConsole(stream, text)) std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

ConsoleReporter::ConsoleReporter() : terminal_(platform::StderrIsTerminal()) {}

ConsoleReporter::~ConsoleReporter() {
  std::lock_guard<std::mutex> guard(lock_);
  ClearProgressLocked();
}

void ConsoleReporter::ClearProgressLocked() {
  if (!progressShown_) return;
  std::fputs(kEraseLine, stderr);
  // Back to the end of the unfinished line the progress line was opened below.
  if (progressBelow_) {
    std::fputs("\033[A", stderr);
    if (column_ > 0) std::fputs(("\033[" + std::to_string(column_) + "C").c_str(), stderr);
  }
  std::fflush(stderr);
  progressShown_ = false;
  progressBelow_ = false;
}

void ConsoleReporter::Output(std::string_view text) {
  std::lock_guard<std::mutex> guard(lock_);
  ClearProgressLocked();
  Write(stdout, text);
  if (!terminal_) return;
  const size_t lastFeed = text.rfind('\n');
  column_ = lastFeed == std::string_view::npos ? column_ + text.size() : text.size() - lastFeed - 1;
}

void ConsoleReporter::Notice(std::string_view line) {
  std::lock_guard<std::mutex> guard(lock_);
  ClearProgressLocked();
  // On a terminal the notice follows the output before it on the screen.
  if (terminal_) std::fflush(stdout);
  Write(stderr, line);
  std::fputc('\n', stderr);
  if (terminal_) column_ = 0;
}

void ConsoleReporter::Progress(std::string_view line) {
  if (!terminal_) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (line.empty()) {
    ClearProgressLocked();
    return;
  }
  std::fflush(stdout);
  // The tools' lines begin with "\n", so the cursor usually stands after the
  // last text: the progress line opens below it and is taken back on clearing.
  if (!progressShown_ && column_ > 0) {
    std::fputc('\n', stderr);
    progressBelow_ = true;
  }
  std::fputs(kEraseLine, stderr);
  Write(stderr, line);
  std::fflush(stderr);
  progressShown_ = true;
}

ConsoleReporter& Console() {
  static ConsoleReporter console;
  return console;
}

Reporter& CurrentReporter() { return currentReporter != nullptr ? *currentReporter : Console(); }

ScopedReporter::ScopedReporter(Reporter& reporter) : previous_(currentReporter) { currentReporter = &reporter; }

ScopedReporter::~ScopedReporter() { currentReporter = previous_; }

void BufferedReporter::Output(std::string_view text) {
  if (!pieces_.empty() && !pieces_.back().notice) {
    pieces_.back().text += text;
  } else {
    pieces_.push_back({false, std::string(text)});
  }
}

void BufferedReporter::Notice(std::string_view line) { pieces_.push_back({true, std::string(line)}); }

void BufferedReporter::ReplayTo(Reporter& target) const {
  for (const Piece& piece : pieces_) {
    if (piece.notice) {
      target.Notice(piece.text);
    } else {
      target.Output(piece.text);
    }
  }
  if (failed()) target.MarkFailed();
}

ProgressMeter::ProgressMeter(std::string label, uint64_t total, std::string unit, bool shown)
    : label_(std::move(label)), total_(total), unit_(std::move(unit)), active_(shown && Console().showsProgress()),
      nextDraw_(std::chrono::steady_clock::now() + kProgressInterval) {}

ProgressMeter::~ProgressMeter() {
  if (active_) Console().Progress("");
}

void ProgressMeter::Advance(uint64_t amount) { Draw(done_ += amount); }

void ProgressMeter::SetDone(uint64_t done) {
  done_ = done;
  Draw(done);
}

void ProgressMeter::Draw(uint64_t done) {
  if (!active_) return;
  std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
  if (!guard.owns_lock()) return;  // another thread is drawing
  const auto now = std::chrono::steady_clock::now();
  if (now < nextDraw_) return;
  nextDraw_ = now + kProgressInterval;
  Console().Progress(label_ + ": " + std::to_string(done) + "/" + std::to_string(total_) + " " + unit_);
}

}  // namespace fpskit

// Running the fpskit executable in a child process for tests that need the
// real process: its exit status, a file-size limit, an unprivileged user, and
// a SIGKILL at a chosen point while it writes. POSIX only (fork, setrlimit,
// ptrace); the Windows build leaves these tests out.
#pragma once

#if !defined(_WIN32)

#include <sys/types.h>

#include <csignal>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fpskit::support {

struct ChildRun {
  int exitStatus = -1;  // the exit status, or -1 when a signal ended the child
  int signal = 0;       // the signal that ended it, or 0
  std::string output;   // standard output and standard error together
};

struct ChildOptions {
  std::string directory;                   // the child's current directory
  std::optional<uint64_t> fileSizeLimit;   // RLIMIT_FSIZE in bytes
  // Runs as an ordinary user: as root, the child drops to "nobody" first, so
  // that permission checks apply where the test command runs as root.
  bool unprivileged = false;
  // Standard output and error go to a pipe that nobody reads: every write
  // to them fails (or raises SIGPIPE). The run's output stays empty.
  bool closedOutput = false;
};

// Makes the calling process an ordinary user: as root it drops to "nobody"
// (and cannot come back), otherwise it stays as it is. False on failure.
bool DropToUnprivilegedUser();

// Runs `argv` (argv[0] is the executable's path) and waits for it.
ChildRun RunChild(const std::vector<std::string>& argv, const ChildOptions& options);

// What a traced child does with the temporary file it writes through,
// beside the file it replaces, seen at its system calls.
enum class WriteStep {
  kWriteStarts,   // entering a write to a "$$$TEMP$$$" file
  kWriteDone,     // returning from it
  kSync,          // entering fsync or fdatasync of that file
  kDirectorySync, // entering fsync or fdatasync of a directory
  kRename,        // entering a rename
  kRenamed,       // returning from a rename
};
const char* WriteStepName(WriteStep step);

struct TracedRun {
  ChildRun run;
  std::vector<WriteStep> steps;  // every step seen, in order (up to the kill)
  bool killed = false;
};

// Runs `argv` under ptrace, following every thread, and records its write
// steps; with `killAt`, sends `killSignal` when step number `killAt` (counted
// from 0) is reached: SIGKILL ends the child exactly there, before an
// entered system call runs; a signal the child handles reaches it when that
// call returns. A child that cannot be started (or traced) exits 125 or
// 127 with the reason in its output.
TracedRun RunChildTraced(const std::vector<std::string>& argv, const std::string& directory,
                         std::optional<size_t> killAt, int killSignal = SIGKILL);

}  // namespace fpskit::support

#endif  // !_WIN32

#include "support/process.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "util/files.h"

namespace fpskit::support {
namespace {

// Exit statuses of a child that could not start the tool; the tests report
// them as such rather than as the tool's failure.
constexpr int kSetupFailed = 125;
constexpr int kExecFailed = 127;

[[noreturn]] void FailInChild(const char* what, int status) {
  std::fprintf(stderr, "test child: %s: %s\n", what, std::strerror(errno));
  _exit(status);
}

// In the child, after fork: the directory, the output, the limits and the
// user, then the executable.
[[noreturn]] void StartChild(const std::vector<std::string>& argv, const ChildOptions& options, int outputFd) {
  // The tool starts with the signals' default actions, whatever the test
  // runner ignores.
  for (int signo : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(signo, SIG_DFL);
  if (dup2(outputFd, STDOUT_FILENO) < 0 || dup2(outputFd, STDERR_FILENO) < 0) FailInChild("dup2", kSetupFailed);
  const int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) dup2(devNull, STDIN_FILENO);
  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) FailInChild("chdir", kSetupFailed);
  if (options.fileSizeLimit) {
    const struct rlimit limit = {rlim_t(*options.fileSizeLimit), rlim_t(*options.fileSizeLimit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) FailInChild("setrlimit", kSetupFailed);
  }
  if (options.unprivileged && !DropToUnprivilegedUser()) FailInChild("drop to nobody", kSetupFailed);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  FailInChild(("exec " + argv[0]).c_str(), kExecFailed);
}

void RecordEnd(int status, ChildRun& run) {
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
}

// The name of the file behind a descriptor of the traced process.
std::string DescriptorTarget(pid_t pid, uint64_t fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%d/fd/%llu", int(pid), static_cast<unsigned long long>(fd));
  char target[4096];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

bool IsTemporaryFile(pid_t pid, uint64_t fd) {
  return std::filesystem::path(DescriptorTarget(pid, fd)).filename().string().rfind("$$$TEMP$$$", 0) == 0;
}

// The descriptor a system call writes to, for the calls that write file
// data (copies inside the kernel included); -1 for any other call.
int64_t WrittenDescriptor(uint64_t nr, const uint64_t* args) {
  switch (nr) {
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_pwritev:
#ifdef SYS_pwritev2
    case SYS_pwritev2:
#endif
    case SYS_sendfile:
      return int64_t(args[0]);
    case SYS_copy_file_range:
    case SYS_splice:
      return int64_t(args[2]);
    default:
      return -1;
  }
}

bool IsSync(uint64_t nr) { return nr == SYS_fsync || nr == SYS_fdatasync; }

bool IsRename(uint64_t nr) {
  return
#ifdef SYS_rename
      nr == SYS_rename ||
#endif
#ifdef SYS_renameat
      nr == SYS_renameat ||
#endif
      nr == SYS_renameat2;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, size_t(n));
  }
  return text;
}

}  // namespace

bool DropToUnprivilegedUser() {
  if (geteuid() != 0) return true;
  const struct passwd* nobody = getpwnam("nobody");
  const uid_t uid = nobody ? nobody->pw_uid : 65534;
  const gid_t gid = nobody ? nobody->pw_gid : 65534;
  if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return false;
  return setuid(0) != 0;
}

ChildRun RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  if (options.closedOutput) {
    close(pipeFds[0]);
    pipeFds[0] = -1;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    if (pipeFds[0] >= 0) close(pipeFds[0]);
    StartChild(argv, options, pipeFds[1]);
  }
  close(pipeFds[1]);
  if (pipeFds[0] >= 0) {
    run.output = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  RecordEnd(status, run);
  return run;
}

const char* WriteStepName(WriteStep step) {
  switch (step) {
    case WriteStep::kWriteStarts: return "write starts";
    case WriteStep::kWriteDone: return "write done";
    case WriteStep::kSync: return "sync";
    case WriteStep::kDirectorySync: return "directory sync";
    case WriteStep::kRename: return "rename";
    case WriteStep::kRenamed: return "renamed";
  }
  return "?";
}

TracedRun RunChildTraced(const std::vector<std::string>& argv, const std::string& directory,
                         std::optional<size_t> killAt, int killSignal) {
  TracedRun traced;
  // The output goes to an unnamed file, not a pipe: the tracer reads it only
  // at the end, and a full pipe would stop the child for good.
  std::FILE* output = std::tmpfile();
  if (output == nullptr) return traced;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    std::fclose(output);
    return traced;
  }
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) FailInChild("ptrace", kSetupFailed);
    // The leak check at exit stops the threads with ptrace of its own,
    // which a traced process may not do.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    ChildOptions options;
    options.directory = directory;
    StartChild(argv, options, fileno(output));
  }

  // The child stops at its exec; from then on every thread it starts is
  // traced too and stops at each system call's entry and exit.
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
    RecordEnd(status, traced.run);
    std::fclose(output);
    return traced;
  }
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(long(PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE | PTRACE_O_TRACEFORK |
                                      PTRACE_O_TRACEVFORK | PTRACE_O_EXITKILL)));
  ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);

  std::map<pid_t, std::optional<WriteStep>> entered;  // thread -> the step its current call began
  std::set<pid_t> known = {pid};
  for (;;) {
    const pid_t tid = waitpid(-1, &status, __WALL);
    if (tid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      known.erase(tid);
      if (tid == pid) {
        RecordEnd(status, traced.run);
        break;
      }
      continue;
    }
    if (!WIFSTOPPED(status)) continue;
    const int stopSignal = WSTOPSIG(status);
    int deliver = 0;
    if (stopSignal == (SIGTRAP | 0x80)) {
      struct __ptrace_syscall_info info;
      std::memset(&info, 0, sizeof info);
      ptrace(PTRACE_GET_SYSCALL_INFO, tid, reinterpret_cast<void*>(sizeof info), &info);
      std::optional<WriteStep> step;
      if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
        const uint64_t nr = info.entry.nr;
        const int64_t written = WrittenDescriptor(nr, info.entry.args);
        if (written >= 0 && IsTemporaryFile(pid, uint64_t(written))) step = WriteStep::kWriteStarts;
        if (IsSync(nr) && IsTemporaryFile(pid, info.entry.args[0])) step = WriteStep::kSync;
        std::error_code ignored;
        if (IsSync(nr) && std::filesystem::is_directory(DescriptorTarget(pid, info.entry.args[0]), ignored)) {
          step = WriteStep::kDirectorySync;
        }
        if (IsRename(nr)) step = WriteStep::kRename;
        entered[tid] = step;
      } else if (info.op == PTRACE_SYSCALL_INFO_EXIT) {
        if (entered[tid] == WriteStep::kWriteStarts) step = WriteStep::kWriteDone;
        if (entered[tid] == WriteStep::kRename) step = WriteStep::kRenamed;
        entered[tid].reset();
      }
      if (step) {
        traced.steps.push_back(*step);
        if (killAt && traced.steps.size() == *killAt + 1) {
          kill(pid, killSignal);
          traced.killed = true;
        }
      }
    } else if (stopSignal == SIGTRAP || (stopSignal == SIGSTOP && !known.count(tid))) {
      // A clone, fork or exec event, or a new thread's first stop.
      known.insert(tid);
    } else {
      deliver = stopSignal;
    }
    ptrace(PTRACE_SYSCALL, tid, nullptr, reinterpret_cast<void*>(long(deliver)));
  }
  // Threads of a killed child may still be reported; they are traced by us.
  while (waitpid(-1, &status, __WALL | WNOHANG) > 0) {
  }
  std::rewind(output);
  traced.run.output = ReadAll(fileno(output));
  std::fclose(output);
  return traced;
}

}  // namespace fpskit::support

#endif  // !_WIN32

#include "util/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace fpskit::platform {

std::string SystemErrorText(SystemError error) { return std::strerror(error); }

namespace {

// The list of temporary files in progress that an interrupt removes. A
// signal handler may neither allocate nor lock, so the list is a fixed array
// of path buffers, each with a lock-free state word: free; pending while a
// thread creates or renames its file (the file may or may not exist: the
// handler waits for the step to end); listed while the file exists under the
// path in the buffer. More replacements at once than slots (threads write
// one file each) wait for a free slot.
constexpr size_t kTemporarySlots = 64;
constexpr size_t kTemporaryPathCapacity = 4096;
enum SlotState : int { kSlotFree, kSlotPending, kSlotListed };
// A slot keeps the path as the system takes it (UTF-16 on Windows), so that
// the handler need not convert it.
#ifdef _WIN32
using SlotChar = wchar_t;
#else
using SlotChar = char;
#endif
struct TemporarySlot {
  std::atomic<int> state{kSlotFree};
  SlotChar path[kTemporaryPathCapacity];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots lock-free");
TemporarySlot temporarySlots[kTemporarySlots];
// The signal that is ending the process, or 0; set before the handler reads
// the list, so that no file is created after it was read.
std::atomic<int> endingSignal{0};

int ClaimSlot() {
  for (;;) {
    for (size_t i = 0; i < kTemporarySlots; ++i) {
      int expected = kSlotFree;
      if (temporarySlots[i].state.compare_exchange_strong(expected, kSlotPending)) return int(i);
    }
    std::this_thread::yield();
  }
}

void RemovePath(const SlotChar* path);
void PauseBriefly();

// Runs in the interrupt handler: waits (a few seconds at most) for creations
// and renames in progress, then removes every listed file.
void RemoveListedTemporaries() {
  for (TemporarySlot& slot : temporarySlots) {
    for (int wait = 0; wait < 5000 && slot.state.load() == kSlotPending; ++wait) PauseBriefly();
    if (slot.state.load() == kSlotListed) RemovePath(slot.path);
  }
}

}  // namespace

#ifdef _WIN32

namespace {

// The errno value for a system error code of the calls below.
SystemError FromWindowsError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// UTF-16 for bytes in a code page; false when they are not valid in it.
bool Widen(std::string_view bytes, UINT codePage, DWORD flags, std::wstring& out) {
  out.clear();
  if (bytes.empty()) return true;
  const int length = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
  if (length <= 0) return false;
  out.resize(size_t(length));
  return MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), out.data(), length) == length;
}

// The one conversion of the program's text (paths, console lines) to the
// system's UTF-16. The program's paths are UTF-8, but a name read from a game
// file is bytes in the game's encoding: a part between separators that is not
// valid UTF-8 is taken in the system's ANSI code page, as the "A" functions
// took every path before.
std::wstring WideFromText(std::string_view text) {
  std::wstring whole;
  if (Widen(text, CP_UTF8, MB_ERR_INVALID_CHARS, whole)) return whole;
  whole.clear();
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of("/\\", start);
    const std::string_view part = text.substr(start, end == std::string_view::npos ? end : end - start);
    std::wstring wide;
    if (!Widen(part, CP_UTF8, MB_ERR_INVALID_CHARS, wide)) Widen(part, CP_ACP, 0, wide);
    whole += wide;
    if (end == std::string_view::npos) return whole;
    whole += wchar_t(text[end]);
    start = end + 1;
  }
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), length, nullptr, nullptr);
  return out;
}

// Beyond this length a path needs the "\\?\" form: 260 characters less the
// 12 that a directory must leave for an 8.3 file name in it.
constexpr size_t kShortPathLimit = MAX_PATH - 12;

// A path as the wide functions take it. A long one is made absolute (which
// also turns '/' into '\' and resolves "." and "..", as the "\\?\" form
// needs) and prefixed with "\\?\" (or "\\?\UNC\" for a share), which lifts
// the 260-character limit wherever the file system allows longer paths.
std::wstring NativePath(const std::string& path) {
  std::wstring wide = WideFromText(path);
  if (wide.size() < kShortPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The attributes of a path, or INVALID_FILE_ATTRIBUTES when it does not exist.
DWORD AttributesOf(const std::string& path) { return GetFileAttributesW(NativePath(path).c_str()); }

// Whether a C stream is a console window, and its handle.
bool IsConsole(std::FILE* stream, HANDLE& handle) {
  handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(NativePath(path).c_str(), WideFromText(mode).c_str());
}

SystemError RemoveFile(const std::string& path) {
  return DeleteFileW(NativePath(path).c_str()) ? 0 : FromWindowsError(GetLastError());
}

bool EntryExists(const std::string& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return std::string();
  std::wstring wide(needed, L'\0');
  const DWORD length = GetCurrentDirectoryW(needed, wide.data());
  if (length == 0 || length >= needed) return std::string();
  wide.resize(length);
  return Utf8FromWide(wide);
}

std::string ExecutablePath() {
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, wide.data(), DWORD(wide.size()));
    if (length == 0) return std::string();
    if (length < wide.size()) {
      wide.resize(length);
      // A long path comes back in the "\\?\" form; the program's paths do
      // without it.
      if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0) return "\\\\" + Utf8FromWide(wide.substr(8));
      if (wide.rfind(L"\\\\?\\", 0) == 0) return Utf8FromWide(wide.substr(4));
      return Utf8FromWide(wide);
    }
    if (wide.size() >= 32768) return std::string();
    wide.resize(wide.size() * 2);
  }
}

bool WriteToConsole(std::FILE* stream, std::string_view text) {
  HANDLE console;
  if (!IsConsole(stream, console)) return false;
  // What the stream holds still goes first.
  std::fflush(stream);
  const std::wstring wide = WideFromText(text);
  for (size_t done = 0; done < wide.size();) {
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<size_t>(wide.size() - done, 8192));
    if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  return true;
}

bool StartedOnItsOwnConsole() {
  // A console started for this process alone lists only it; one of cmd.exe,
  // PowerShell or a terminal lists them too. Without a console window for
  // input and output (a script, redirected streams, Wine in a terminal,
  // whose console has no window) nobody could read or answer a prompt.
  DWORD processes[2];
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode;
  HANDLE output;
  return GetConsoleProcessList(processes, 2) == 1 && GetConsoleWindow() != nullptr &&
         input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0 && IsConsole(stdout, output);
}

void WaitForEnter() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input);
  wchar_t typed[256];
  DWORD read = 0;
  // A line is complete at Enter; a longer line is read on until its end.
  while (ReadConsoleW(input, typed, 256, &read, nullptr) && read > 0) {
    if (std::wstring_view(typed, read).find(L'\n') != std::wstring_view::npos ||
        std::wstring_view(typed, read).find(L'\r') != std::wstring_view::npos) {
      return;
    }
  }
}

bool FileLength(std::FILE* file, uint64_t& length) {
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
  length = uint64_t(info.st_size);
  return true;
}

bool PathExists(const std::string& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsSymbolicLink(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryItem>& items) {
  items.clear();
  std::string pattern = path.empty() ? std::string(".") : path;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(NativePath(pattern + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    items.push_back({Utf8FromWide(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

SystemError MakeOneDirectory(const std::string& path) {
  return CreateDirectoryW(NativePath(path).c_str(), nullptr) ? 0 : FromWindowsError(GetLastError());
}

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryW(NativePath(path).c_str()) != 0; }

bool SeekFile(std::FILE* file, uint64_t position) {
  return position <= uint64_t(INT64_MAX) && _fseeki64(file, int64_t(position), SEEK_SET) == 0;
}

bool TellFile(std::FILE* file, uint64_t& position) {
  const int64_t at = _ftelli64(file);
  if (at < 0) return false;
  position = uint64_t(at);
  return true;
}

KernelCopy CopyInKernel(uint64_t&, std::FILE*, std::FILE*) { return KernelCopy::kUnsupported; }

KeptAttributes AttributesToKeep(const std::string& target) {
  const DWORD attributes = AttributesOf(target);
  KeptAttributes kept;
  if (attributes != INVALID_FILE_ATTRIBUTES) kept.value = attributes & FILE_ATTRIBUTE_READONLY;
  return kept;
}

std::string DirectoryPartOf(const std::string& path) {
  const size_t last = path.find_last_of("/\\:");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

SystemError CreateUniqueFile(const std::string& stem, std::FILE*& file, std::string& path) {
  // The C runtime has no mkstemp: the name comes from the process, the clock
  // and a counter, and creating it with O_EXCL makes sure that no existing
  // file is opened; a taken name is simply followed by the next one.
  static unsigned counter = 0;
  LARGE_INTEGER ticks;
  QueryPerformanceCounter(&ticks);
  const uint32_t seed = uint32_t(GetCurrentProcessId()) * 2654435761u ^ uint32_t(ticks.QuadPart);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const uint32_t unique = seed + 0x9E3779B9u * ++counter;
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08X", unique);
    path = stem + suffix;
    // Shared for deletion, so that an interrupt can remove the file while
    // it is still open (it goes when the process's handles close).
    const HANDLE handle = CreateFileW(NativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const SystemError error = FromWindowsError(GetLastError());
      if (error == EEXIST) continue;
      return error;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      const SystemError error = errno;
      CloseHandle(handle);
      DeleteFileW(NativePath(path).c_str());
      return error;
    }
    file = _fdopen(fd, "wb");
    if (file != nullptr) return 0;
    const SystemError error = errno;
    _close(fd);
    DeleteFileW(NativePath(path).c_str());
    return error;
  }
  return EEXIST;
}

SystemError FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return errno;
  return _commit(_fileno(file)) == 0 ? 0 : errno;
}

SystemError RenameOver(const std::string& from, const std::string& to, const KeptAttributes& attributes) {
  // MoveFileEx refuses to replace a read-only file: the attribute comes off
  // for the moment of the move and goes onto the new file after it (or back
  // onto the old one when the move fails).
  const DWORD old = AttributesOf(to);
  const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0;
  const std::wstring target = NativePath(to);
  if (readOnly && !SetFileAttributesW(target.c_str(), old & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
    return FromWindowsError(GetLastError());
  }
  if (!MoveFileExW(NativePath(from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const SystemError error = FromWindowsError(GetLastError());
    if (readOnly) SetFileAttributesW(target.c_str(), old);
    return error;
  }
  if (attributes.value & FILE_ATTRIBUTE_READONLY) {
    const DWORD now = AttributesOf(to);
    if (now != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), now | FILE_ATTRIBUTE_READONLY);
  }
  return 0;
}

void IgnoreFileSizeSignal() {}  // Windows has no file-size limit signal

SystemError FlushDirectory(const std::string&) { return 0; }  // MoveFileEx wrote through

std::string ResolveLinks(const std::string& path) { return path; }

namespace {

void RemovePath(const SlotChar* path) { DeleteFileW(path); }
std::wstring SlotPath(const std::string& path) { return NativePath(path); }
void PauseBriefly() { Sleep(1); }

// Runs on a thread of its own that the system starts; returning FALSE lets
// the default handler end the process, whose handles close and so remove
// the files marked for deletion.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  int none = 0;
  endingSignal.compare_exchange_strong(none, SIGINT);
  RemoveListedTemporaries();
  return FALSE;
}

// Windows has no signal mask: the handler's thread waits for pending steps.
struct InterruptsHeld {
  InterruptsHeld() {}
};

}  // namespace

void InstallInterruptCleanup() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void SetRussianLocale() {
  for (const char* name : {"Russian", "Russian_Russia.1251", "ru-RU"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) return;
  }
}

#else  // POSIX

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

SystemError RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0 ? 0 : errno; }

bool EntryExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string ExecutablePath() {
#if defined(__linux__)
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return std::string();
    if (size_t(length) < buffer.size()) return std::string(buffer.data(), size_t(length));
    if (buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
#else
  return std::string();
#endif
}

bool WriteToConsole(std::FILE*, std::string_view) { return false; }  // a terminal takes the bytes

bool StartedOnItsOwnConsole() { return false; }

void WaitForEnter() {}


bool FileLength(std::FILE* file, uint64_t& length) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  length = uint64_t(info.st_size);
  return true;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool ListDirectory(const std::string& path, std::vector<DirectoryItem>& items) {
  items.clear();
  DIR* directory = opendir(path.empty() ? "." : path.c_str());
  if (directory == nullptr) return false;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    items.push_back({name, IsDirectory(path.empty() ? name : path + "/" + name)});
  }
  closedir(directory);
  return true;
}

SystemError MakeOneDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool SeekFile(std::FILE* file, uint64_t position) {
  return position <= uint64_t(INT64_MAX) && fseeko(file, off_t(position), SEEK_SET) == 0;
}

bool TellFile(std::FILE* file, uint64_t& position) {
  const off_t at = ftello(file);
  if (at < 0) return false;
  position = uint64_t(at);
  return true;
}

#if defined(__linux__)
KernelCopy CopyInKernel(uint64_t& count, std::FILE* source, std::FILE* destination) {
  if (std::fflush(destination) != 0) return KernelCopy::kFailed;
  off_t in = ftello(source);
  off_t out = ftello(destination);
  if (in < 0 || out < 0) return KernelCopy::kUnsupported;
  bool copied = false;
  while (count > 0) {
    const size_t request = size_t(std::min<uint64_t>(count, uint64_t(1) << 30));
    const ssize_t moved = copy_file_range(fileno(source), &in, fileno(destination), &out, request, 0);
    if (moved < 0) {
      if (!copied && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
                      errno == EBADF || errno == EPERM || errno == ETXTBSY)) {
        return KernelCopy::kUnsupported;
      }
      return KernelCopy::kFailed;
    }
    if (moved == 0) {
      // The source ended early: the chunked copy takes the rest from here
      // and meets the end, so the stream shows a short read as it does
      // there.
      if (fseeko(source, in, SEEK_SET) != 0 || fseeko(destination, out, SEEK_SET) != 0) return KernelCopy::kFailed;
      return KernelCopy::kUnsupported;
    }
    copied = true;
    count -= uint64_t(moved);
  }
  if (fseeko(source, in, SEEK_SET) != 0 || fseeko(destination, out, SEEK_SET) != 0) return KernelCopy::kFailed;
  return KernelCopy::kDone;
}
#else
KernelCopy CopyInKernel(uint64_t&, std::FILE*, std::FILE*) { return KernelCopy::kUnsupported; }
#endif

KeptAttributes AttributesToKeep(const std::string& target) {
  KeptAttributes kept;
  struct stat info;
  if (stat(target.c_str(), &info) == 0) {
    kept.value = info.st_mode & 07777;
  } else {
    // A new file: what open() would give it under the process's umask, read
    // once (umask can only be read by setting it).
    static const mode_t newFileMode = [] {
      const mode_t mask = umask(0);
      umask(mask);
      return mode_t(0666 & ~mask);
    }();
    kept.value = newFileMode;
  }
  return kept;
}

std::string DirectoryPartOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

SystemError CreateUniqueFile(const std::string& stem, std::FILE*& file, std::string& path) {
  std::string name = stem + "XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return errno;
  path = name;
  file = fdopen(fd, "wb");
  if (file != nullptr) return 0;
  const SystemError error = errno;
  close(fd);
  unlink(path.c_str());
  return error;
}

SystemError FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return errno;
  return fsync(fileno(file)) == 0 ? 0 : errno;
}

SystemError RenameOver(const std::string& from, const std::string& to, const KeptAttributes& attributes) {
  chmod(from.c_str(), mode_t(attributes.value));  // a file system without modes keeps its own
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void IgnoreFileSizeSignal() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

SystemError FlushDirectory(const std::string& directory) {
  const int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const SystemError error = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return error;
}

std::string ResolveLinks(const std::string& path) {
  // As the system follows them, up to its own limit on the chain's length;
  // a longer chain (a loop) is left to the rename, which replaces the link.
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::vector<char> target(size_t(info.st_size > 0 ? info.st_size : 4096) + 1);
    const ssize_t length = readlink(current.c_str(), target.data(), target.size());
    if (length <= 0 || size_t(length) >= target.size()) return current;
    const std::string link(target.data(), size_t(length));
    current = link[0] == '/' ? link : DirectoryPartOf(current) + link;
  }
  return path;
}

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemovePath(const SlotChar* path) { unlink(path); }
const std::string& SlotPath(const std::string& path) { return path; }

void PauseBriefly() {
  const struct timespec millisecond = {0, 1000000};
  nanosleep(&millisecond, nullptr);
}

// Removes the temporary files, then ends the process as the signal would
// have: the default action is restored and the signal raised again; it is
// blocked while its handler runs, so it takes effect on return.
void OnInterrupt(int signo) {
  int none = 0;
  endingSignal.compare_exchange_strong(none, signo);
  RemoveListedTemporaries();
  std::signal(signo, SIG_DFL);
  raise(signo);
}

// Holds the interrupt signals off the calling thread while it creates or
// renames a listed file, so that the handler never waits for its own thread.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kInterruptSignals) sigaddset(&set, signo);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t old_;
};

}  // namespace

void InstallInterruptCleanup() {
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signo : kInterruptSignals) sigaddset(&action.sa_mask, signo);
  for (int signo : kInterruptSignals) {
    // A signal ignored when the run began (nohup, a background job) stays
    // ignored.
    struct sigaction previous;
    if (sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signo, &action, nullptr);
  }
}

void SetRussianLocale() {
  for (const char* name : {"Russian", "ru_RU.UTF-8", "ru_RU.utf8", "ru_RU.CP1251", "ru_RU.cp1251", "ru_RU"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) return;
  }
}

#endif

SystemError CreateTemporaryFile(const std::string& stem, std::FILE*& file, std::string& path, int& slot) {
  // The unique part is at most 8 characters.
  if (SlotPath(stem + "00000000").size() + 1 > kTemporaryPathCapacity) return ENAMETOOLONG;
  InterruptsHeld held;
  slot = ClaimSlot();
  TemporarySlot& entry = temporarySlots[slot];
  if (endingSignal.load() != 0) {
    entry.state.store(kSlotFree);
    return EINTR;
  }
  const SystemError error = CreateUniqueFile(stem, file, path);
  if (error != 0) {
    entry.state.store(kSlotFree);
    return error;
  }
  const auto stored = SlotPath(path);
  std::memcpy(entry.path, stored.c_str(), (stored.size() + 1) * sizeof(SlotChar));
  entry.state.store(kSlotListed);
  return 0;
}

SystemError RenameTemporaryOver(int slot, const std::string& from, const std::string& to,
                                const KeptAttributes& attributes) {
  InterruptsHeld held;
  TemporarySlot& entry = temporarySlots[slot];
  entry.state.store(kSlotPending);
  const SystemError error = RenameOver(from, to, attributes);
  entry.state.store(error == 0 ? kSlotFree : kSlotListed);
  return error;
}

void RemoveTemporary(int slot, const std::string& path) {
  RemovePath(SlotPath(path).c_str());
  temporarySlots[slot].state.store(kSlotFree);
}

void AdviseLargePages(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kLargePage - 1);
  if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace fpskit::platform

// The operating system's side of file handling, in one place: the rest of the
// program calls these and no system call of its own, so that the same source
// builds for POSIX systems and for Windows (MinGW-w64).
//
// Paths are byte strings. On POSIX they reach the system unchanged. On
// Windows they are UTF-8 (the command line is read in UTF-16 and converted
// once, CommandLineArguments) and every call here converts them to UTF-16 for
// the system's wide ("W") functions, in one place (the conversion in
// platform.cpp): a part of a path between separators that is not valid UTF-8
// (a name read from a game file) is taken in the system's ANSI code page, as
// the system itself would have taken it. A long path goes to the system in
// its "\\?\" form, so that it may exceed 260 characters. Both '/' and '\\'
// separate path parts on Windows; on POSIX only '/' does for the system (the
// naming helpers in util/paths.h accept both).
#pragma once

#include "util/tools_only.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fpskit::platform {

// Failures are reported as errno values (0 for success), translated from the
// system's own codes on Windows, so that messages read the same everywhere.
using SystemError = int;

// The text for an error returned by these functions.
std::string SystemErrorText(SystemError error);

// The process's arguments, argv[0] included: on POSIX as the system gives
// them, on Windows read from the UTF-16 command line and converted to UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// fopen, for any path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Removes a file; a missing one gives ENOENT.
SystemError RemoveFile(const std::string& path);

// Whether anything has this name, a symbolic link that leads nowhere
// included (a link is not followed).
bool EntryExists(const std::string& path);

// The current directory as an absolute path; empty when the system cannot
// tell.
std::string CurrentDirectory();

// The path of the running executable (/proc/self/exe on Linux); empty where
// the system cannot tell.
std::string ExecutablePath();

// Writes console text on `stream` (stdout or stderr) when it is a console
// window, in the console's own characters (UTF-16 on Windows, so that every
// path shows right whatever the console's code page), and returns true; false
// (nothing written) when it is a file or a pipe, which get the bytes as they
// are, and always on POSIX.
bool WriteToConsole(std::FILE* stream, std::string_view text);

// Whether the process has a console window of its own that nobody else uses:
// on Windows, started from Explorer (a double-click, a file dropped onto the
// executable, a shortcut), so that the window closes as soon as the process
// ends; its input and output are that console. Always false on POSIX.
bool StartedOnItsOwnConsole();

// Waits until Enter is pressed on the console (or its input ends).
void WaitForEnter();

// The length of an open regular file; false for anything else (a directory,
// a device) or when the system cannot tell.
bool FileLength(std::FILE* file, uint64_t& length);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// True for a regular file (following links); false for a directory, a device,
// a pipe or a path that does not exist.
bool IsRegularFile(const std::string& path);
// True when the path itself is a symbolic link (a reparse point on Windows:
// symbolic links and junctions), whatever it points at.
bool IsSymbolicLink(const std::string& path);

// The names in a directory (empty: the current one), without "." and "..",
// each with whether it is a directory itself (a link to a directory counts
// as a directory). False when the directory cannot be read.
struct DirectoryItem {
  std::string name;
  bool directory = false;
};
bool ListDirectory(const std::string& path, std::vector<DirectoryItem>& items);

// Creates one directory (not its parents).
SystemError MakeOneDirectory(const std::string& path);
// Removes a directory when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// 64-bit file positions, whatever the size of `long` (32 bits on Windows,
// where archives still reach 2 GiB).
bool SeekFile(std::FILE* file, uint64_t position);
bool TellFile(std::FILE* file, uint64_t& position);

// Copies `count` bytes between the streams' positions inside the kernel
// (copy_file_range on Linux), handing it the streams' buffered positions and
// setting them again afterwards, so that both streams stay usable; `count`
// is reduced by what was copied. kUnsupported (nothing copied) where the
// system or the file systems cannot do it, and also when the source ends
// early: the caller then copies the rest itself (and meets the end).
enum class KernelCopy { kDone, kFailed, kUnsupported };
KernelCopy CopyInKernel(uint64_t& count, std::FILE* source, std::FILE* destination);

// What a replaced file passes on to the file that replaces it: its permission
// bits on POSIX (a new file gets those the umask allows), its read-only
// attribute on Windows.
struct KeptAttributes {
  uint32_t value = 0;
};
KeptAttributes AttributesToKeep(const std::string& target);

// The part of a path up to and including its last directory separator as the
// system knows them ('/' on POSIX, where a backslash belongs to the file
// name; '/', '\\' and the ':' after a drive letter on Windows). Empty for a
// bare file name, which lies in the current directory.
std::string DirectoryPartOf(const std::string& path);

// Creates a new, empty file named `stem` (a path) followed by characters that
// make it unique, and opens it for writing in binary mode; `path` receives
// its name. No existing file is ever opened or replaced by it.
SystemError CreateUniqueFile(const std::string& stem, std::FILE*& file, std::string& path);

// Flushes the stream and then the system's buffers of the file to the disk.
SystemError FlushToDisk(std::FILE* file);

// Flushes a directory's entries to the disk (POSIX: a rename is durable only
// once its directory is), `directory` as DirectoryPartOf gives it (empty for
// the current one). Windows: nothing to do, the rename writes through.
SystemError FlushDirectory(const std::string& directory);

// The file a path finally names: a symbolic link is followed (a relative
// link from its own directory, a chain of links to its end, even when the
// last one names no file yet), so that a tool replaces the link's target
// and the link stays. A path that is no link comes back as it is; so does
// every path on Windows, where links to files are rare and the rename
// replaces the link itself.
std::string ResolveLinks(const std::string& path);

// Temporary files in progress, and what an interrupt does with them.
// InstallInterruptCleanup (once, at start-up) makes SIGINT, SIGTERM and SIGHUP
// (Ctrl-C and Ctrl-Break on Windows) remove every temporary file in progress
// before the process ends as the signal would end it, and ignores SIGPIPE, so
// that a write to a closed pipe fails instead of killing the process midway.
// The handler is async-signal-safe: it reads a fixed list of preallocated
// path buffers through lock-free atomics, unlinks and re-raises.
void InstallInterruptCleanup();

// Creates a temporary file as CreateUniqueFile does and enters it in the
// list; `slot` receives its place there. An interrupt arriving meanwhile
// either finds the file listed or finds no file. EINTR once an interrupt has
// begun to end the process.
SystemError CreateTemporaryFile(const std::string& stem, std::FILE*& file, std::string& path, int& slot);
// Renames the listed file over `to` (RenameOver) and takes it off the list,
// as one step for an interrupt: it finds the old target and the temporary
// file, or the new target alone.
SystemError RenameTemporaryOver(int slot, const std::string& from, const std::string& to,
                                const KeptAttributes& attributes);
// Removes the listed file, then its entry.
void RemoveTemporary(int slot, const std::string& path);

// Gives the file at `from` the attributes and then renames it to `to` in one
// step, replacing `to` when it exists (also a read-only one on Windows, which
// the new file is again).
SystemError RenameOver(const std::string& from, const std::string& to, const KeptAttributes& attributes);

// Makes a write beyond the file-size limit fail with EFBIG instead of killing
// the process, where the system has such a signal (SIGXFSZ), so that it is
// reported like any other failed write.
void IgnoreFileSizeSignal();

// Sets the C runtime's locale for all categories to a Russian one, under the
// names the system knows it by ("Russian" on Windows); when it has none, the
// locale stays as it was.
void SetRussianLocale();

// True when standard error is an interactive terminal that can show a
// progress line rewritten in place (on Windows, a console that accepts the
// cursor sequences, which this turns on). False for a pipe, a file or CI.
bool StderrIsTerminal();

// Asks the system to back the whole 2 MiB blocks of a large buffer with
// large pages before its bytes are first written, so that filling it costs
// a page fault (and its bookkeeping) for each 2 MiB instead of each 4 KiB.
// A hint: where the system has no such pages or declines, nothing changes.
void AdviseLargePages(void* data, size_t size);

}  // namespace fpskit::platform

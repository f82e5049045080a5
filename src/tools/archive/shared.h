// What the three archive tools share: opening an archive file, planning an
// archive with the messages of its damage, the messages of a member outside
// its archive or of a path that cannot be used, and the files of the unpack
// directory that no member takes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/plan.h"
#include "util/files.h"

namespace fpskit {

// An archive file as the tools open it: a bare archive stays in the open
// file; one in a TLZC container is decompressed into memory (`container`
// keeps the container, `archive` what it decompressed to, `complete` whether
// that was all of it) and the file is closed.
struct OpenedArchive {
  FileHandle file;
  ByteSource bare;   // the bare archive in `file` (unused when wrapped)
  bool wrapped = false;
  Bytes container;
  Bytes archive;
  bool complete = false;
};

// Opens the archive at `path`. False after printing "\nCan't open <path>" when
// it cannot be read, or "\nERROR: Not a FPS4 archive" when it is neither an
// archive nor a container holding one (a partly decompressed container that
// begins like an archive is still returned, with `complete` false).
bool OpenArchiveFile(const std::string& path, OpenedArchive& opened);

// Prints why an archive's table could not be read: "\nERROR: <label>: ...".
void ReportArchiveFailure(const std::string& label, const ArchiveFailure& failure);

// Reads the archive's table and plans its members (archive/plan.h),
// printing what ParseArchiveTable found: the failure that makes the table
// unreadable (the result is then false), or every damaged entry of an 8-byte
// table, which is lost alone.
bool PlanArchiveReporting(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                          ArchivePlan& plan);

// True when member i lies inside the archive; otherwise prints
// "\nERROR: <label>: member <i> (0x<size> bytes at 0x<offset>) lies outside the archive".
bool MemberInside(uint64_t archiveLength, const ArchiveEntry& entry, const std::string& label, size_t i);

// Prints why member i's path cannot be used (its check), as "unfps" reports it.
void ReportPathCheck(const std::string& label, const ArchivePlan& plan, size_t i);

// Prints why member i's directory was not taken (what TakeNestedDirectory
// answered, when not kUsable).
void ReportNestedDirectory(const std::string& label, const ArchivePlan& plan, size_t i, PathCheck refusal);

// The files and directories in the archive's unpack directory that the
// repacker does not take: relative paths ('/' after a directory), sorted. A
// member's file or image, the directory of a nested archive (judged by its
// own plan) or of a member split by another tool, the directories that hold
// member files (looked into), a member's text dump ("<name>.txt") and
// backups ("*.bak") are taken or belong to a member; an empty file of an
// 8-byte table's entry without data is what "unfps" wrote for it, and
// is listed only once it holds something.
std::vector<std::string> PathsNotTaken(const ArchivePlan& plan);

}  // namespace fpskit

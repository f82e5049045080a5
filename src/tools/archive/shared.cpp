#include "tools/archive/shared.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "compress/tlzc.h"
#include "tools/texture/texture_report.h"
#include "tools/tlzc_report.h"
#include "util/console.h"
#include "util/paths.h"
#include "util/platform.h"

namespace fpskit {
namespace {

constexpr char kBackupExtension[] = ".bak";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "shares the path" names the path that two members would share: the
// member's file, or the directory of an archive inside it.
void ReportRefusal(const std::string& label, const ArchivePlan& plan, size_t i, PathCheck check,
                   const std::string& sharedName) {
  const MemberPlan& member = plan.members[i];
  switch (check) {
    case PathCheck::kUsable:
      break;
    case PathCheck::kEmpty:
      Printf("\nERROR: %s: member %zu has an empty member name; not written", label.c_str(), i);
      break;
    case PathCheck::kLeaves:
      Printf("\nERROR: the member name %s would leave %s; not written", member.checkedName.c_str(),
             plan.unpackDirectory.c_str());
      break;
    case PathCheck::kNotPortable:
      Printf("\nERROR: the member name %s is a device or holds a character Windows refuses; not written",
             member.checkedName.c_str());
      break;
    case PathCheck::kShared:
      Printf("\nERROR: %s: member %zu shares the path %s with another member; not written", label.c_str(), i,
             JoinPath(plan.unpackDirectory, sharedName).c_str());
      break;
  }
}

}  // namespace

bool OpenArchiveFile(const std::string& path, OpenedArchive& opened) {
  opened.file = OpenFile(path, "rb");
  uint64_t length = 0;
  if (!opened.file || !FileLength(opened.file.get(), length)) {
    Printf("\nCan't open %s", path.c_str());
    return false;
  }
  opened.bare = ByteSource::InFile(opened.file.get(), 0, length);
  uint8_t magic[4];
  opened.bare.Peek(0, magic, sizeof magic);
  if (length >= 4 && std::memcmp(magic, kTlzcMagic, 4) == 0) {
    if (!opened.bare.Read(0, length, opened.container)) {
      Printf("\nCan't open %s", path.c_str());
      return false;
    }
    opened.file.reset();  // all in memory now; Windows replaces no file that is open
    opened.wrapped = true;
    opened.complete = ReportTlzcDecode(DecompressTlzc(opened.container, opened.archive));
    if (!HasMagic(opened.archive, kArchiveMagic)) {
      Print("\nERROR: Not a FPS4 archive");
      return false;
    }
    return true;
  }
  if (length < 4 || std::memcmp(magic, kArchiveMagic, 4) != 0) {
    Print("\nERROR: Not a FPS4 archive");
    return false;
  }
  opened.complete = true;
  return true;
}

void ReportArchiveFailure(const std::string& label, const ArchiveFailure& failure) {
  const char* where = label.c_str();
  switch (failure.error) {
    case ArchiveError::kNone:
      break;
    case ArchiveError::kTruncatedHeader:
      Printf("\nERROR: %s: truncated FPS4 header", where);
      break;
    case ArchiveError::kNoEntries:
      Printf("\nERROR: %s: FPS4 entry count is 0", where);
      break;
    case ArchiveError::kUnsupportedEntrySize:
      Printf("\nERROR: %s: unsupported FPS4 entry size %u", where, unsigned(failure.entrySize));
      break;
    case ArchiveError::kTruncatedTable:
      Printf("\nERROR: %s: truncated FPS4 entry table (%u entries of %u bytes)", where, failure.entryCount,
             unsigned(failure.entrySize));
      break;
    case ArchiveError::kTypeStringOutside:
      Printf("\nERROR: %s: FPS4 type string at 0x%X lies outside the archive", where, failure.offset);
      break;
    case ArchiveError::kNameStringOutside:
      Printf("\nERROR: %s: FPS4 name string at 0x%X lies outside the archive", where, failure.offset);
      break;
    case ArchiveError::kNameStringUnterminated:
      Printf("\nERROR: %s: FPS4 name string at 0x%X has no terminating zero", where, failure.offset);
      break;
    case ArchiveError::kNameStringTooLong:
      Printf("\nERROR: %s: FPS4 name string at 0x%X has no terminating zero in its first 4 KiB", where,
             failure.offset);
      break;
  }
}

bool PlanArchiveReporting(const ByteSource& archive, const std::string& label, const std::string& unpackDirectory,
                          ArchivePlan& plan) {
  ArchiveTable table;
  const ArchiveFailure failure = ParseArchiveTable(archive, FileNameOf(unpackDirectory), table);
  if (!failure.ok()) {
    ReportArchiveFailure(label, failure);
    return false;
  }
  for (const size_t bad : table.damaged) {
    Printf("\nERROR: %s: FPS4 entry %zu at 0x%X lies beyond the entry after it", label.c_str(), bad,
           table.entries[bad].offset);
  }
  PlanArchive(archive, std::move(table), unpackDirectory, plan);
  // Texture pairs whose records cannot be read: both members stay files.
  for (const MemberPlan& member : plan.members) {
    if (!member.textureFailure.ok()) {
      ReportTextureFailure(JoinPath(unpackDirectory, member.fileName), member.textureFailure);
    }
  }
  return true;
}

bool MemberInside(uint64_t archiveLength, const ArchiveEntry& entry, const std::string& label, size_t i) {
  if (InRange(archiveLength, entry.offset, entry.size)) return true;
  Printf("\nERROR: %s: member %zu (0x%X bytes at 0x%X) lies outside the archive", label.c_str(), i, entry.size,
         entry.offset);
  return false;
}

void ReportPathCheck(const std::string& label, const ArchivePlan& plan, size_t i) {
  ReportRefusal(label, plan, i, plan.members[i].check, plan.members[i].fileName);
}

void ReportNestedDirectory(const std::string& label, const ArchivePlan& plan, size_t i, PathCheck refusal) {
  ReportRefusal(label, plan, i, refusal, plan.members[i].directoryName);
}

std::vector<std::string> PathsNotTaken(const ArchivePlan& plan) {
  std::vector<std::string> notTaken;
  // Walks one directory below the unpack directory; `prefix` is its relative path.
  std::vector<std::string> pending{""};
  std::vector<platform::DirectoryItem> items;
  std::unordered_set<std::string> memberDirectories;
  for (const MemberPlan& member : plan.members) {
    if (!member.directoryName.empty()) memberDirectories.insert(PathKey(member.directoryName));
  }
  while (!pending.empty()) {
    const std::string prefix = std::move(pending.back());
    pending.pop_back();
    if (!platform::ListDirectory(JoinPath(plan.unpackDirectory, prefix), items)) continue;
    for (const platform::DirectoryItem& item : items) {
      const std::string relative = prefix.empty() ? item.name : prefix + "/" + item.name;
      const std::string key = PathKey(relative);
      if (item.directory) {
        if (plan.parentKeys.count(key)) {
          pending.push_back(relative);
        } else if (!plan.directoryKeys.count(key) && !memberDirectories.count(key)) {
          notTaken.push_back(relative + "/");
        }
        continue;
      }
      if (EndsWith(key, kBackupExtension) || plan.dumpKeys.count(key)) continue;
      const auto file = plan.fileKeys.find(key);
      // A refused or shared path is never read: the member comes from the archive.
      if (file == plan.fileKeys.end() || plan.members[file->second].check != PathCheck::kUsable) {
        notTaken.push_back(relative);
      } else if (plan.members[file->second].role == MemberRole::kEmptyEntry) {
        FileHandle handle = OpenFile(JoinPath(plan.unpackDirectory, relative), "rb");
        uint64_t length = 0;
        if (handle && FileLength(handle.get(), length) && length != 0) notTaken.push_back(relative);
      }
    }
  }
  std::sort(notTaken.begin(), notTaken.end());
  return notTaken;
}

}  // namespace fpskit

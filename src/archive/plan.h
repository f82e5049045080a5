// The member plan of an archive: what "unfps" writes for every member, what
// "fps" reads back and what "lsfps" lists, decided once from the table and
// the members' first bytes.
//
// Every member gets its file name (MemberFileName, then the content test of
// SniffMember), whether it is stored in a TLZC container, the directory it
// goes to when it is an archive itself, and, for the header of a texture
// pair, the names of its DDS images. Paths are compared as the most
// restrictive file system compares them, so that an unpack directory means
// the same on every system: without case, trailing dots and spaces ignored.
// A name that would leave the unpack directory or that a Windows file system
// cannot hold (a device name such as CON or COM1, with any extension, a
// control character or one of < > : " | ? *) is refused; paths of two
// members that would be one file (or a file and a directory) are shared.
// Neither is ever written; the repacker takes such members from the archive.
// The plan records every such refusal with its member; the tools word it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/format.h"
#include "texture/txm.h"

namespace fpskit {

// What a table entry stands for in the unpack directory.
enum class MemberRole {
  kNone,         // no member (offset 0xFFFFFFFF, or 0 with flags 0x8D)
  kDamaged,      // reported with the table: no size, nothing written
  kMember,       // a file, or a directory when it is an archive itself
  kEmptyEntry,   // 8-byte tables: a continuation entry or one with offset 0; an empty file the repacker never reads
  kTexturePair,  // the TXM member of a pair: its images
  kPairSpv,      // the "SPV" member between a pair's two members: a file of its own
  kPairData,     // the texture data member of a pair: nothing of its own (its images belong to the TXM member)
};

// Whether a member's path may be used.
enum class PathCheck {
  kUsable,
  kEmpty,        // the entry names no file
  kLeaves,       // an absolute path, a drive letter or a '..' part
  kNotPortable,  // a device name or a character a Windows file system refuses
  kShared,       // another member's path would be the same file
};

// One DDS file of a texture pair.
struct PlannedImage {
  std::string fileName;  // relative to the unpack directory
  size_t texture = 0;    // in the TXM's order
  uint32_t image = 0;
};

struct MemberPlan {
  MemberRole role = MemberRole::kNone;
  std::string fileName;       // relative to the unpack directory, '/' between its parts
  MemberHead head{};          // the member's first bytes (zero past the archive's end)
  bool inside = false;        // its bytes lie inside the archive
  bool compressed = false;    // stored in a TLZC container
  bool bareArchive = false;   // its stored bytes are an archive: it goes to `directoryName`
  std::string directoryName;  // StripExtension(fileName): where it goes when it is an archive
  PathCheck check = PathCheck::kUsable;
  std::string checkedName;    // the name the check is about (the file, its directory or an image)
  // The header of a texture pair (kTexturePair): the data member's entry and
  // the images, when the TXM's records could be read (otherwise both members
  // are kept as files under their own names).
  TexturePairing pairing = TexturePairing::kPlain;
  size_t dataIndex = 0;
  bool recordsRead = false;
  TextureFailure textureFailure;     // why the records could not be read, when they could not
  TextureSet textures;               // the TXM's records, when read
  std::vector<PlannedImage> images;  // the DDS files the split writes
};

struct ArchivePlan {
  ArchiveTable table;
  std::string unpackDirectory;  // where its members go
  std::string baseName;         // FileNameOf(unpackDirectory)
  std::vector<MemberPlan> members;  // one per table entry, in table order
  // The path keys (PathKey) the members take: files and nested archives'
  // directories, each with the member that takes it; and the directories
  // that hold member files.
  std::unordered_map<std::string, size_t> fileKeys;
  std::unordered_map<std::string, size_t> directoryKeys;
  std::unordered_map<std::string, std::vector<size_t>> parentKeys;
  // Text dumps beside member files ("<member without extension>.txt").
  std::unordered_set<std::string> dumpKeys;
};

// The form in which a file system that ignores case and trailing dots and
// spaces sees a relative path: ASCII letters in lower case, every part
// without its trailing dots and spaces.
std::string PathKey(std::string_view relativePath);

// True when every part of a relative path is a name a Windows file system
// can hold: no device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// with or without an extension), no control character, none of < > : " | ?
// *, and not only dots and spaces.
bool IsPortablePath(std::string_view relativePath);

// Plans every member of the archive whose table ParseArchiveTable read (a
// table it failed on is never planned).
void PlanArchive(const ByteSource& archive, ArchiveTable parsed, const std::string& unpackDirectory,
                 ArchivePlan& plan);

// Member i turned out to be an archive only after decompression: its
// directory is taken now. Returns kUsable when the directory is the
// member's, or why not: kLeaves or kNotPortable for a refused name (recorded
// in the member's check and `checkedName`, as the plan records refusals), or
// kShared when another member's file or directory has that path. A bare
// archive's directory was taken with the plan: its own check is returned.
PathCheck TakeNestedDirectory(ArchivePlan& plan, size_t i);

}  // namespace fpskit

#include "archive/plan.h"

#include <algorithm>
#include <cstring>

#include "texture/dds.h"
#include "texture/txm.h"
#include "util/paths.h"

namespace fpskit {
namespace {

constexpr char kDumpExtension[] = ".txt";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The parts of a relative path, split at '/'.
std::vector<std::string_view> PartsOf(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string_view WithoutTrailingDotsAndSpaces(std::string_view part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
  return part;
}

bool IsDeviceName(std::string_view part) {
  // The name before its first '.', with trailing spaces ignored, as Windows
  // reads "con .txt" too.
  std::string stem(part.substr(0, part.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(), LowerAscii);
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool IsPortablePart(std::string_view part) {
  if (WithoutTrailingDotsAndSpaces(part).empty() || IsDeviceName(part)) return false;
  return std::none_of(part.begin(), part.end(), [](char c) {
    return uint8_t(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
  });
}

// Names member k and reads its first bytes.
bool NameMemberOfPlan(const ByteSource& archive, ArchivePlan& plan, size_t k) {
  MemberPlan& member = plan.members[k];
  const ArchiveEntry& entry = plan.table.entries[k];
  member.fileName = MemberFileName(plan.table, plan.baseName, k);
  if (member.fileName.empty()) member.check = PathCheck::kEmpty;
  member.head = PeekMemberHead(archive, entry);
  const bool marked = member.fileName.empty() ? false : SniffMember(member.head, plan.table, k, member.fileName);
  member.inside = InRange(archive.length, entry.offset, entry.size);
  member.compressed = IsCompressedMember(member.head, entry);
  member.bareArchive = entry.size >= 4 && HasMagic(member.head, kArchiveMagic);
  member.directoryName = member.fileName.empty() ? std::string() : StripExtension(member.fileName);
  return marked;
}

// Refuses a name that leaves the unpack directory or that Windows cannot hold.
bool CheckName(MemberPlan& member, const std::string& name) {
  if (member.check != PathCheck::kUsable) return false;
  if (!IsContainedRelativePath(name)) {
    member.check = PathCheck::kLeaves;
  } else if (!IsPortablePath(name)) {
    member.check = PathCheck::kNotPortable;
  } else {
    return true;
  }
  member.checkedName = name;
  return false;
}

// The entries of a run of continuation entries after member `leader`, which
// the repacker moves with it: empty files of their own.
size_t MarkContinuationRun(ArchivePlan& plan, const ByteSource& archive, size_t leader) {
  if (!HasContinuationMarks(plan.table.header)) return leader;
  size_t j = leader + 1;
  for (; j < plan.table.entries.size() && plan.table.entries[j].paddedSize == kContinuationMark; ++j) {
    if (IsSkippedEntry(plan.table, j)) continue;
    NameMemberOfPlan(archive, plan, j);
    plan.members[j].role = MemberRole::kEmptyEntry;
  }
  return j - 1;
}

void PlanTexturePair(const ByteSource& archive, ArchivePlan& plan, size_t i, TexturePairing pairing) {
  MemberPlan& txm = plan.members[i];
  txm.role = MemberRole::kTexturePair;
  txm.pairing = pairing;
  txm.dataIndex = pairing == TexturePairing::kPairAfterSpv ? i + 2 : i + 1;
  if (pairing == TexturePairing::kPairAfterSpv) {
    NameMemberOfPlan(archive, plan, i + 1);
    plan.members[i + 1].role = MemberRole::kPairSpv;
  }
  NameMemberOfPlan(archive, plan, txm.dataIndex);
  MemberPlan& data = plan.members[txm.dataIndex];
  data.role = MemberRole::kPairData;
  if (!txm.inside || !data.inside) return;  // reported by the tools in their turn
  const ArchiveEntry& txmEntry = plan.table.entries[i];
  TextureSet& set = txm.textures;
  txm.textureFailure =
      ParseTextureRecords(archive.Sub(txmEntry.offset, txmEntry.size), plan.table.entries[txm.dataIndex].size, set);
  if (!txm.textureFailure.ok()) {
    set = TextureSet();
    return;
  }
  txm.recordsRead = true;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    const TextureRecord& texture = set.textures[t];
    // Names too long or leaving the directory are reported by the split and
    // passed over by the rebuild, one image at a time.
    if (texture.duplicate || texture.nameTooLong) continue;
    for (uint32_t image = 0; image < texture.imageCount; ++image) {
      const std::string name = DdsFileName(texture, i, t, image);
      if (IsContainedRelativePath(name)) txm.images.push_back({name, t, image});
    }
  }
}

// Takes `key` for member k in `keys`, and every directory above it as a
// parent. Keys that two members take are shared.
void Claim(ArchivePlan& plan, std::unordered_map<std::string, size_t>& keys, const std::string& name, size_t k,
           std::vector<size_t>& clashes) {
  const std::string key = PathKey(name);
  auto [at, fresh] = keys.emplace(key, k);
  // Also two paths of one member: two images of a pair, or its two files.
  if (!fresh) clashes.insert(clashes.end(), {k, at->second});
  size_t slash = key.rfind('/');
  while (slash != std::string::npos) {
    // The claims of one member come one after the other.
    std::vector<size_t>& owners = plan.parentKeys[key.substr(0, slash)];
    if (owners.empty() || owners.back() != k) owners.push_back(k);
    slash = slash == 0 ? std::string::npos : key.rfind('/', slash - 1);
  }
}

void ClaimPaths(ArchivePlan& plan) {
  std::vector<size_t> clashes;
  for (size_t k = 0; k < plan.members.size(); ++k) {
    MemberPlan& member = plan.members[k];
    switch (member.role) {
      case MemberRole::kMember:
      case MemberRole::kPairSpv:
      case MemberRole::kEmptyEntry:
        if (!CheckName(member, member.fileName)) break;
        if (member.role == MemberRole::kMember && member.bareArchive && !CheckName(member, member.directoryName)) break;
        Claim(plan, plan.fileKeys, member.fileName, k, clashes);
        if (member.role == MemberRole::kMember && member.bareArchive) {
          Claim(plan, plan.directoryKeys, member.directoryName, k, clashes);
        }
        plan.dumpKeys.insert(PathKey(member.directoryName + kDumpExtension));
        break;
      case MemberRole::kTexturePair: {
        if (!member.recordsRead) {
          // Kept as two files when the split is refused.
          MemberPlan& data = plan.members[member.dataIndex];
          if (!CheckName(member, member.fileName) || !CheckName(member, data.fileName)) break;
          // Both files are the pair's: it is written, or refused, as a whole.
          Claim(plan, plan.fileKeys, member.fileName, k, clashes);
          Claim(plan, plan.fileKeys, data.fileName, k, clashes);
          break;
        }
        for (const PlannedImage& image : member.images) {
          if (!CheckName(member, image.fileName)) break;
          Claim(plan, plan.fileKeys, image.fileName, k, clashes);
        }
        break;
      }
      default:
        break;
    }
  }
  // A file or a nested archive's directory where another member needs a
  // directory.
  auto parentClash = [&](const std::unordered_map<std::string, size_t>& keys) {
    for (const auto& [key, owner] : keys) {
      const auto parent = plan.parentKeys.find(key);
      if (parent == plan.parentKeys.end()) continue;
      for (const size_t other : parent->second) {
        if (other != owner) clashes.insert(clashes.end(), {owner, other});
      }
    }
  };
  parentClash(plan.fileKeys);
  parentClash(plan.directoryKeys);
  // A file and a directory under one path.
  for (const auto& [key, owner] : plan.directoryKeys) {
    const auto file = plan.fileKeys.find(key);
    if (file != plan.fileKeys.end() && file->second != owner) clashes.insert(clashes.end(), {owner, file->second});
  }
  for (const size_t k : clashes) {
    if (plan.members[k].check == PathCheck::kUsable) plan.members[k].check = PathCheck::kShared;
  }
}

}  // namespace

std::string PathKey(std::string_view relativePath) {
  std::string key;
  key.reserve(relativePath.size());
  for (const std::string_view part : PartsOf(relativePath)) {
    if (!key.empty()) key += '/';
    for (const char c : WithoutTrailingDotsAndSpaces(part)) key += LowerAscii(c);
  }
  return key;
}

bool IsPortablePath(std::string_view relativePath) {
  const std::vector<std::string_view> parts = PartsOf(relativePath);
  return std::all_of(parts.begin(), parts.end(), IsPortablePart);
}

void PlanArchive(const ByteSource& archive, ArchiveTable parsed, const std::string& unpackDirectory,
                 ArchivePlan& plan) {
  plan = ArchivePlan();
  plan.table = std::move(parsed);
  plan.unpackDirectory = unpackDirectory;
  plan.baseName = FileNameOf(unpackDirectory);
  const ArchiveTable& table = plan.table;
  plan.members.resize(table.entries.size());
  for (size_t i = 0; i < table.entries.size(); ++i) {
    MemberPlan& member = plan.members[i];
    if (IsSkippedEntry(table, i)) continue;
    if (IsDamagedEntry(table, i)) {
      member.role = MemberRole::kDamaged;
      continue;
    }
    const bool marked = NameMemberOfPlan(archive, plan, i);
    if (HasContinuationMarks(table.header) && table.entries[i].offset == 0) {
      member.role = MemberRole::kEmptyEntry;
      continue;
    }
    const TexturePairing pairing =
        member.check == PathCheck::kEmpty ? TexturePairing::kPlain
                                          : MemberPairing(table, i, marked, member.compressed);
    // A pair whose TXM lies outside the archive is reported as a plain
    // member, and the entry after it is a member of its own.
    if (pairing == TexturePairing::kPlain || !member.inside) {
      member.role = MemberRole::kMember;
      i = MarkContinuationRun(plan, archive, i);
      continue;
    }
    PlanTexturePair(archive, plan, i, pairing);
    i = MarkContinuationRun(plan, archive, plan.members[i].dataIndex);
  }
  ClaimPaths(plan);
}

PathCheck TakeNestedDirectory(ArchivePlan& plan, size_t i) {
  MemberPlan& member = plan.members[i];
  if (member.bareArchive || !CheckName(member, member.directoryName)) return member.check;
  const std::string key = PathKey(member.directoryName);
  const auto file = plan.fileKeys.find(key);
  const auto directory = plan.directoryKeys.find(key);
  const auto parent = plan.parentKeys.find(key);
  const bool taken = (file != plan.fileKeys.end() && file->second != i) ||
                     (directory != plan.directoryKeys.end() && directory->second != i) ||
                     (parent != plan.parentKeys.end() &&
                      std::any_of(parent->second.begin(), parent->second.end(), [&](size_t k) { return k != i; }));
  if (taken) return PathCheck::kShared;
  plan.directoryKeys.emplace(key, i);
  return PathCheck::kUsable;
}

}  // namespace fpskit

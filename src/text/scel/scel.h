// ZK6SCEL script containers: a 32-byte header, a table of members and the
// members themselves, each a TSS script compressed as an LZSS stream.
// "untss" and "untss2" split a container into its members' dumps or their
// decompressed files; "tss", "tss_switch" and "tss2" join them back.
//
// The header and the table are big-endian; one copy of the total size (at
// 24) and the LZSS stream headers are little-endian. Member offsets are
// relative to dataBase; the 16 bytes at dataBase are a block that is kept as
// it is, and the merge writes the members after it, each padded with zeros
// to a multiple of 16.
//
// Members are numbered in table order from 0, counting only non-empty rows.
// The files of 'dir/scene.scel' live in 'dir/scene/': member n is
// 'scene_NNNN.bin' (raw mode) and its dump 'scene_NNNN.txt' (text mode).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kScelHeaderSize = 32;
inline constexpr uint8_t kScelMagic[8] = {'Z', 'K', '6', 'S', 'C', 'E', 'L', 0};
inline constexpr size_t kScelEntrySize = 16;
inline constexpr size_t kScelBlockSize = 16;  // the block at dataBase
inline constexpr size_t kScelAlignment = 16;  // every member ends on a multiple of this
inline constexpr uint8_t kScelStreamType = 1;  // the LZSS type the merge writes

struct ScelEntry {
  uint32_t offset = 0;        // at 0: relative to dataBase; 0 marks an empty row
  uint32_t storedSize = 0;    // at 4: the LZSS stream, its header included
  uint32_t unpackedSize = 0;  // at 8: written by the merge, not read by the split
  uint32_t fourth = 0;        // at 12: kept as read
};

struct ScelContainer {
  // The header as read: the merge writes it back with both total sizes set
  // (at 8 big-endian, at 24 little-endian) and every other field as read.
  std::array<uint8_t, kScelHeaderSize> header{};
  uint32_t pairCount = 0;  // at 16: the table has 2 × pairCount rows
  uint32_t dataBase = 0;   // at 20
  std::vector<ScelEntry> entries;
  std::vector<size_t> members;  // the rows that hold a member, by member number
};

// What can be wrong with a container, as its functions find it.
enum class ScelError {
  kNone,
  kTruncatedHeader,        // the file is shorter than its header
  kTruncatedTable,         // the table of `count` rows runs past the end of the file
  kMemberOutsideFile,      // member `member`: `size` stored bytes at file offset `offset`
  kMemberDamaged,          // member `member`: its stream does not decode to the size it declares
  kTableRunsPastDataBase,  // BuildScel: the table does not end before dataBase (`offset`)
  kBlockOutsideFile,       // BuildScel: the block at dataBase (`offset`) is not in the file
  kMemberCountMismatch,    // BuildScel: not one content per member
  kRebuiltTooLarge,        // BuildScel: the container would reach 4 GiB
};

struct ScelFailure {
  ScelError error = ScelError::kNone;
  uint64_t offset = 0;  // a member's file offset, or dataBase
  uint64_t count = 0;   // the table's rows
  size_t member = 0;    // the member's number
  uint32_t size = 0;    // the member's stored size
  bool ok() const { return error == ScelError::kNone; }
};

// Reads the header and the member table of a whole container. A header or
// table that does not fit in the file is the failure returned.
ScelFailure ParseScel(ByteSpan file, ScelContainer& container);

// Decodes member `number` into `out`; a member whose stored bytes lie outside
// the file or whose stream does not decode to the size its header declares is
// the failure returned. Silent, so it can run on any thread.
ScelFailure DecodeScelMember(ByteSpan file, const ScelContainer& container, size_t number, Bytes& out);

// The new container for one member content per member number: the header
// and the table as read, the block at dataBase, and every member encoded
// again (on `workers` threads, 0 for all hardware threads; the bytes do not
// depend on it), packed one after the other from dataBase + 16. Empty rows
// stay as read. The failure returned when the table does not end before
// dataBase, the block at dataBase is not in the file, the count of contents
// is not the count of members, or the container would outgrow its 32-bit
// sizes.
ScelFailure BuildScel(ByteSpan file, const ScelContainer& container, const std::vector<Bytes>& members,
                      unsigned workers, Bytes& out);

// Where member `number` of the container at `path` lives, with the extension
// given ("bin", "dec", "txt"): StripExtension(path) + '/' + its bare name +
// "_NNNN." + extension.
std::string ScelMemberPath(const std::string& path, size_t number, const char* extension);

}  // namespace fpskit

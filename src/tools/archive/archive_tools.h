// The archive tools: "unfps" unpacks an FPS4 archive into a directory of
// member files, "fps" rebuilds it from that directory, "lsfps" lists what
// both would do. The archive format and the member plan they share are in
// archive/format.h and archive/plan.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fpskit {

// Archives inside archives are unpacked and rebuilt this many levels deep at
// most (the game's go a few levels deep); a deeper one, such as a member that
// is its own archive again, stays a plain member file.
inline constexpr size_t kMaxNestingDepth = 32;

// "unfps": unpacks the archive at `path` (bare, or in a TLZC container) into
// StripExtension(path), printing "\n<path>" for every file it writes: plain
// members as files, compressed members decompressed, nested archives into
// directories of their own (to any depth), texture pairs as DDS images.
// A member whose name would leave the unpack directory, a member outside its
// archive, a damaged texture pair or a container that fails to decompress is
// reported and the other members are still written; the result is then
// false. An input that cannot be read or is no archive writes nothing.
bool UnpackArchive(const std::string& path);

// What one "unfps" run may write at most: limits no real archive reaches
// (the game's largest hold a few hundred members in a few nested archives,
// and their compressed members grow to a few times their size), but which a
// few hundred bytes of compressed archives nested in each other, each
// holding the next several times, would pass within a few levels. The run
// stops there with a message instead of filling the disk.
struct UnpackLimits {
  uint64_t files = 0;
  uint64_t bytes = 0;
};
inline constexpr uint64_t kUnpackFileAllowance = 65536;              // files, whatever the archive's size
inline constexpr uint64_t kUnpackFilesPerArchiveByte = 8;            // and one more per 8 bytes of the archive
inline constexpr uint64_t kUnpackByteAllowance = uint64_t(256) << 20;  // bytes, whatever the archive's size
inline constexpr uint64_t kUnpackBytesPerArchiveByte = 64;           // and 64 more per byte of the archive
UnpackLimits UnpackLimitsFor(uint64_t archiveLength);

// As UnpackArchive, within other limits.
bool UnpackArchiveWithin(const std::string& path, const UnpackLimits& limits);

// "fps": rebuilds the archive at `path` from its unpack directory and the
// archive itself, and replaces it in one step: every member from its file
// when the file exists (printing "\n+ <path>"), otherwise from the archive;
// compressed members compressed again (or kept as they stand when
// unchanged), nested archives rebuilt from their directories, texture pairs
// copied with their images written back from the DDS files. A damaged
// archive, a member that does not decompress, a file that cannot be read or a
// failed write is reported and nothing is changed; the result is then false.
bool RepackArchive(const std::string& path);

// "lsfps": prints the member plan of the archive at `path` without writing
// anything: one line per member (its number, the path "unfps" gives it, its
// stored size, its TLZC kind and decompressed size, the directory of a
// nested archive, the images of a texture pair), with what "fps" would do
// with each file when the unpack directory exists ("=" kept, "M" taken, "-"
// no file, "!" an image whose header does not describe its texture, reported
// below it as fps reports it), then the files fps would not take ("?").
// Damage is reported as "unfps" reports it; the result is then false, as it
// is for an image marked "!".
bool ListArchive(const std::string& path);

}  // namespace fpskit

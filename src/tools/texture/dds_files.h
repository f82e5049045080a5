// The DDS files of a texture pair: "unfps" writes one for every image of
// every texture, and "fps" reads the edited ones back into the texture data
// member. The files are named by DdsFileName, inside the unpack directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "texture/txm.h"
#include "util/byte_source.h"

namespace fpskit {

// Writes the DDS files of every image of one texture from `data`, the texture
// data member, printing "\n<path>" for each. An image name that would leave
// the unpack directory, or a texture name too long for a file, is reported
// and not written. False when anything was reported.
bool ExportTextureImages(const TextureRecord& texture, bool mapsFormats, const ByteSource& data, size_t txmIndex,
                         size_t textureIndex, const std::string& unpackDirectory);

// Writes the DDS files of every texture of a pair that is not a duplicate,
// in TXM order. `txm` and `data` are the two members; `label` names the pair
// in messages. False when anything was reported: the TXM's records (before
// any image is written), or images that were not written (every other image
// is).
bool SplitTexturePair(const ByteSource& txm, const ByteSource& data, size_t txmIndex,
                      const std::string& unpackDirectory, const std::string& label);

// Writes the pixels of every image of one texture whose DDS file exists back
// into `archive`, where the texture data member starts at `dataStart`: the
// file's bytes after its header, at most the image's size (groups of four
// reversed again for format code 5), printing "\n+ <path>" for each.
// Missing files, files of 128 bytes or less and names that would leave the
// unpack directory or are too long for a file (never written by the split)
// are passed over. A file whose header does not describe the texture
// (CheckDdsFile) is reported as "\nERROR: <path>: <what differs>" and not
// written; the other images still are. False, with a message, when a file
// does not match, a file that exists cannot be read, or the archive cannot
// be written.
bool ImportTextureImages(const TextureRecord& texture, bool mapsFormats, ByteSink& archive, uint64_t dataStart,
                         size_t txmIndex, size_t textureIndex, const std::string& unpackDirectory);

// Writes the DDS files of every texture of a pair that is not a duplicate
// back into the texture data member of `dataLength` bytes at `dataStart` in
// `archive`, in TXM order. False when the TXM's records are damaged (reported
// as ReportTextureFailure words it) or an image could not be imported (after
// every image was tried).
bool RebuildTexturePair(const ByteSource& txm, uint64_t dataLength, ByteSink& archive, uint64_t dataStart,
                        size_t txmIndex, const std::string& unpackDirectory, const std::string& label);

}  // namespace fpskit

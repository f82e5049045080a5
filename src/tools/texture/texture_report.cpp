#include "tools/texture/texture_report.h"

#include "util/console.h"

namespace fpskit {

void ReportTextureFailure(const std::string& label, const TextureFailure& failure) {
  const char* where = label.c_str();
  switch (failure.error) {
    case TextureError::kNone:
      return;
    case TextureError::kTruncatedHeader:
      Printf("\nERROR: %s: truncated TXM header", where);
      return;
    case TextureError::kRecordsDoNotFit:
      Printf("\nERROR: %s: TXM records of %u textures do not fit the member", where, failure.textureCount);
      return;
    case TextureError::kUnreadableRecords:
      Printf("\nERROR: %s: can't read the TXM records", where);
      return;
    case TextureError::kBrokenName:
      Printf("\nERROR: %s: the name of texture %zu lies outside the TXM or has no terminating zero", where,
             failure.texture);
      return;
    case TextureError::kDataBeyondMember:
      Printf("\nERROR: %s: texture %zu starts at 0x%X, beyond its data member of 0x%llX bytes", where,
             failure.texture, failure.dataOffset, static_cast<unsigned long long>(failure.dataLength));
      return;
    case TextureError::kBadImageCount:
      Printf("\nERROR: %s: texture %zu has %u images in 0x%X bytes", where, failure.texture, failure.imageCount,
             failure.size);
      return;
  }
}

void ReportDdsMismatch(const std::string& path, const DdsCheck& check) {
  Printf("\nERROR: %s: %s", path.c_str(), check.problem.c_str());
}

}  // namespace fpskit

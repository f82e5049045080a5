// The texture tools' messages about a TXM member's records and about DDS
// files that no longer describe their texture.
#pragma once

#include <string>

#include "texture/dds.h"
#include "texture/txm.h"

namespace fpskit {

// Prints what ParseTextureRecords found wrong with the TXM member that
// `label` names: "\nERROR: <label>: ...". Prints nothing for no failure.
void ReportTextureFailure(const std::string& label, const TextureFailure& failure);

// Reports the DDS file at `path` that CheckDdsFile found not to describe its
// texture, as "fps" refuses it: "\nERROR: <path>: <what differs>".
void ReportDdsMismatch(const std::string& path, const DdsCheck& check);

}  // namespace fpskit

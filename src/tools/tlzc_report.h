// The console text of a TLZC decompression, for every tool that decompresses
// a container (unfps, fps and the listing).
#pragma once

#include "compress/tlzc.h"

namespace fpskit {

// Prints what `result` says of a container: "\nSome error, check the code\n"
// for each LZMA block whose stream ended early, then "\nDECOMPRESS FAILED\n"
// when the container is damaged (kIncomplete; a decompression that the
// reader or the consumer ended gets no such line, its caller words that).
// Returns result.ok(). Callers print these lines before their own about the
// container (an error, or the path of the file that holds its output).
bool ReportTlzcDecode(const TlzcDecodeResult& result);

}  // namespace fpskit

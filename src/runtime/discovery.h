// Finding a usable Java runtime: the payload's own, /usr/j2se, JAVA_HOME and PATH.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// "i386": the processor directory under a runtime's lib directory.
const char* GetArch();

// The runtime home that dir provides (dir itself or dir/jre), or nullopt.
std::optional<std::string> GetJREPath(const char* dir);

// 1 when the runtime home belongs to a development kit (lib/tools.jar beside it).
int IsJDK(const char* home);

// Name prefix of the payload runtime's entries in the payload archive.
inline constexpr char kPayloadRuntimePrefix[] = "package/jre";

// The payload runtime's home under the application home, extracted from the payload on
// first need; cached and owned here; null when there is none.
const char* GetBundledJREPath();

// Writes every payload entry under kPayloadRuntimePrefix into directory: 1 when all were
// written, 0 when that failed or there is no payload, -1 when the payload carries a runtime
// that could not be written intact.
using PayloadRuntimeExtractor = int (*)(const char* directory);
// The driver hands the step in, since runtime does not use the archive; until then (or
// with null) the payload runtime is only looked for on disk.
void SetPayloadRuntimeExtractor(PayloadRuntimeExtractor extractor);

// 1 when GetBundledJREPath extracted every payload entry under kPayloadRuntimePrefix into
// directory in this run, so the payload extraction there may leave them out.
int PayloadRuntimeExtractedInto(const char* directory);

// 1 when the payload runtime's entries could not be extracted intact: the payload is
// damaged, and GetPublicJREPath then looks no further.
int PayloadRuntimeDamaged();

// The preferred supported runtime home, or nullopt when none qualifies.
std::optional<std::string> GetPublicJREPath();

}  // namespace launcher

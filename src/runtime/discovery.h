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

// The payload runtime's home under the application home, extracted from the payload on
// first need; cached and owned here; null when there is none.
const char* GetBundledJREPath();

// The preferred supported runtime home, or nullopt when none qualifies.
std::optional<std::string> GetPublicJREPath();

}  // namespace launcher

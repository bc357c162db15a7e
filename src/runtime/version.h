// The version check: run bin/java -version and match the reported version.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// The supported version that the runtime home reports, or nullopt.
std::optional<std::string> CheckJREVersion(const char* home);

// 1 when a supported version prefix begins version.
int CheckVersion(const char* version);

// 1 when CheckJREVersion(home) finds a supported version.
int CheckJavaVersion(const char* home);

}  // namespace launcher

// Where the running executable lives, and the application home derived from it.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// The executable path for a start-up name (absolute, relative, or searched along PATH).
std::optional<std::string> FindExecName(const char* startName);

// Caches FindExecName(startName) on first success; returns the cached path or null.
const char* SetExecName(const char* startName);

// The cached executable path, or null before a successful SetExecName.
const char* GetExecName();

// The application home: set by SetApplicationHome, else the executable's directory.
const char* GetApplicationHome();

// Replaces the application home (the working directory once a payload is found).
void SetApplicationHome(const char* home);

}  // namespace launcher

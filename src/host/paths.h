// Small path operations shared by every subsystem.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace launcher {

// 1 when the first byte of path is '/'; an empty or null path is not absolute.
int IsAbsolutePath(const char* path);

// directory "/" name, or a plain copy of name when directory is null; no slash is trimmed.
std::string Resolve(const char* directory, const char* name);

// 1 when the process may read and execute path, stat succeeds and it is not a directory.
int IsExecutable(const char* path);

// Calls visit with each entry of a colon-separated search list, left to right, an empty
// entry as "." (the current directory, as the shell takes it); stops at the first entry for
// which visit returns true, and returns whether one did. Splits at character boundaries.
bool WalkSearchList(const char* list, const std::function<bool(const char* entry)>& visit);

// The current directory; the buffer grows (by 1025 bytes) only while getcwd says ERANGE,
// so a removed current directory ends in nullopt instead of a loop.
std::optional<std::string> GetCurrentDirectory();

}  // namespace launcher

// Small path operations shared by every subsystem.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// 1 when the first byte of path is '/'; an empty or null path is not absolute.
int IsAbsolutePath(const char* path);

// directory "/" name, or a plain copy of name when directory is null; no slash is trimmed.
std::string Resolve(const char* directory, const char* name);

// 1 when the process may read and execute path, stat succeeds and it is not a directory.
int IsExecutable(const char* path);

// The current directory; the buffer grows (by 1025 bytes) only while getcwd says ERANGE,
// so a removed current directory ends in nullopt instead of a loop.
std::optional<std::string> GetCurrentDirectory();

}  // namespace launcher

// Path helpers of the packer.
#pragma once

#include <string>

namespace launcher::packer {

// The canonical absolute path, links resolved; empty (errno set) when it does not resolve.
std::string RealPath(const std::string& path);

// True when path is root or lies below it; both canonical, and empty is never within.
bool IsWithin(const std::string& path, const std::string& root);

// The directory part of path ("." when it has none).
std::string DirectoryOf(const std::string& path);

// path, ": " and the text of the current errno.
std::string Describe(const std::string& path);

}  // namespace launcher::packer

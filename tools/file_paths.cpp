#include "file_paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace launcher::packer {

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsWithin(const std::string& path, const std::string& root) {
  return !path.empty() && !root.empty() &&
         (path == root || (path.compare(0, root.size(), root) == 0 &&
                           (root == "/" || path[root.size()] == '/')));
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Describe(const std::string& path) {
  return path + ": " + std::strerror(errno);
}

}  // namespace launcher::packer

#include "host/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "host/locale.h"

namespace launcher {

int IsAbsolutePath(const char* path) { return path && path[0] == '/'; }

std::string Resolve(const char* directory, const char* name) {
  if (!directory) return name;
  std::string path = directory;
  path += '/';
  path += name;
  return path;
}

int IsExecutable(const char* path) {
  struct stat st;
  if (::access(path, R_OK | X_OK) != 0 || ::stat(path, &st) != 0) return 0;
  return !S_ISDIR(st.st_mode);
}

bool WalkSearchList(const char* list, const std::function<bool(const char* entry)>& visit) {
  std::string fields = list;
  char* entry = fields.data();
  for (;;) {
    char* colon = _strchr(entry, ':');
    if (colon) *colon = '\0';
    if (visit(*entry ? entry : ".")) return true;
    if (!colon) return false;
    entry = colon + 1;
  }
}

std::optional<std::string> GetCurrentDirectory() {
  std::vector<char> buffer(1025);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return std::nullopt;
    buffer.resize(buffer.size() + 1025);
  }
  return std::string(buffer.data());
}

}  // namespace launcher

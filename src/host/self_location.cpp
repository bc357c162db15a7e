#include "host/self_location.h"

#include <cstdlib>
#include <cstring>

#include "host/locale.h"
#include "host/memory.h"
#include "host/paths.h"

namespace launcher {
namespace {

// Both live until exit and are never freed while handed out: exit hooks may read them.
char* execname = nullptr;
char* applicationHome = nullptr;

std::optional<std::string> AcceptIfExecutable(std::string candidate) {
  if (!IsExecutable(candidate.c_str())) return std::nullopt;
  return candidate;
}

std::optional<std::string> SearchPath(const char* name) {
  const char* path = std::getenv("PATH");
  if (!path) return std::nullopt;
  std::string fields = path;
  char* field = fields.data();
  for (;;) {
    char* colon = _strchr(field, ':');
    if (colon) *colon = '\0';
    auto found = AcceptIfExecutable(Resolve(*field ? field : ".", name));
    if (found) return found;
    if (!colon) return std::nullopt;
    field = colon + 1;
  }
}

}  // namespace

std::optional<std::string> FindExecName(const char* startName) {
  if (!startName) return std::nullopt;
  // "/" + an absolute name: the doubled slash makes a root-directory executable's home "/".
  if (IsAbsolutePath(startName)) return AcceptIfExecutable(Resolve("", startName));
  if (_strchr(startName, '/')) {
    auto cwd = GetCurrentDirectory();
    if (!cwd) return std::nullopt;
    return AcceptIfExecutable(Resolve(cwd->c_str(), startName));
  }
  return SearchPath(startName);
}

const char* SetExecName(const char* startName) {
  if (!execname) {
    if (auto found = FindExecName(startName)) execname = StrDup(found->c_str());
  }
  return execname;
}

const char* GetExecName() { return execname; }

const char* GetApplicationHome() {
  if (applicationHome) return applicationHome;
  const char* exec = GetExecName();
  if (!exec) return nullptr;
  applicationHome = StrDup(exec);
  if (char* slash = _strrchr(applicationHome, '/')) *slash = '\0';
  return applicationHome;
}

void SetApplicationHome(const char* home) {
  std::free(applicationHome);
  applicationHome = StrDup(home);
}

}  // namespace launcher

#include "host/self_location.h"

#include <cstdlib>

#include "host/lasting.h"
#include "host/locale.h"
#include "host/paths.h"

namespace launcher {
namespace {

Lasting<std::optional<std::string>> execname;
Lasting<std::optional<std::string>> applicationHome;

std::optional<std::string> AcceptIfExecutable(std::string candidate) {
  if (!IsExecutable(candidate.c_str())) return std::nullopt;
  return candidate;
}

std::optional<std::string> SearchPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::optional<std::string> found;
  if (path) {
    WalkSearchList(path, [&](const char* entry) {
      found = AcceptIfExecutable(Resolve(entry, name));
      return found.has_value();
    });
  }
  return found;
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
  if (!*execname) *execname = FindExecName(startName);
  return GetExecName();
}

const char* GetExecName() { return HandOut(*execname); }

const char* GetApplicationHome() {
  if (!*applicationHome && *execname) {
    std::string home = **execname;
    if (char* slash = _strrchr(home.data(), '/')) home.resize(slash - home.data());
    *applicationHome = std::move(home);
  }
  return HandOut(*applicationHome);
}

void SetApplicationHome(const char* home) { *applicationHome = home; }

}  // namespace launcher

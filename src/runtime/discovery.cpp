#include "runtime/discovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/lasting.h"
#include "host/locale.h"
#include "host/paths.h"
#include "host/self_location.h"
#include "messages/output.h"
#include "runtime/version.h"

namespace launcher {
namespace {

// The payload runtime's home once it has been found; a miss is not remembered.
Lasting<std::optional<std::string>> bundledJREPath;
// The directory into which the payload runtime's entries were all written in this run.
Lasting<std::optional<std::string>> payloadRuntimeTarget;
bool payloadRuntimeDamaged = false;
PayloadRuntimeExtractor payloadRuntimeExtractor = nullptr;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A runtime found during one search; version is empty for the payload runtime, which is
// never run to ask.
struct Candidate {
  std::string version;
  std::string home;
};

// Candidates in the order they were found.
struct Candidates {
  std::optional<std::string> payloadJdk;
  std::optional<std::string> payloadJre;
  std::vector<Candidate> installedJdks;
  std::vector<Candidate> installedJres;
};

// Version-checks an installed runtime home and files it by kind.
void FileInstalled(std::string home, Candidates* found) {
  std::optional<std::string> version = CheckJREVersion(home.c_str());
  if (!version) return;
  auto& list = IsJDK(home.c_str()) ? found->installedJdks : found->installedJres;
  list.push_back({std::move(*version), std::move(home)});
}

// The highest version by byte order; among equal versions the one found last wins.
std::optional<std::string> Highest(const std::vector<Candidate>& list) {
  if (list.empty()) return std::nullopt;
  const Candidate* best = &list.back();
  for (auto it = list.rbegin() + 1; it != list.rend(); ++it) {
    if (std::strcmp(it->version.c_str(), best->version.c_str()) > 0) best = &*it;
  }
  return best->home;
}

// The runtime a search-path entry points at: the entry's parent directory, as
// ENTRY/../java would give without following links. An entry without a '/' of its own
// ("", ".", "bin") has no parent to cut to and is skipped.
void TryPathEntry(const char* entry, Candidates* found) {
  std::string java = Resolve(entry, "java");
  if (::access(java.c_str(), X_OK) != 0) return;
  char* slash = _strrchr(java.data(), '/');
  if (!slash) return;
  *slash = '\0';
  slash = _strrchr(java.data(), '/');
  if (!slash) return;
  *slash = '\0';
  std::optional<std::string> home = GetJREPath(java.c_str());
  if (home) FileInstalled(std::move(*home), found);
}

// JAVA_HOME/bin first, then every PATH entry, left to right.
void SearchPath(Candidates* found) {
  const char* javaHome = std::getenv("JAVA_HOME");
  const char* path = std::getenv("PATH");
  if (!javaHome && !path) return;
  std::string list;
  if (javaHome) list = list + javaHome + "/bin:";
  if (path) list = list + path + ":";
  list.pop_back();
  WalkSearchList(list.c_str(), [found](const char* entry) {
    TryPathEntry(entry, found);
    return false;
  });
}

}  // namespace

const char* GetArch() { return "i386"; }

std::optional<std::string> GetJREPath(const char* dir) {
  std::string home;
  if (Exists(std::string(dir) + "/lib/" + GetArch() + "/libjava.so")) {
    home = dir;
  } else if (Exists(std::string(dir) + "/jre/lib/" + GetArch() + "/libjava.so")) {
    home = std::string(dir) + "/jre";
  } else {
    return std::nullopt;
  }
  if (!IsExecutable((home + "/bin/java").c_str())) return std::nullopt;
  return home;
}

int IsJDK(const char* home) {
  const char* slash = _strrchr(home, '/');
  bool jdkRuntime = slash && std::strcmp(slash, "/jre") == 0;
  return Exists(std::string(home) + (jdkRuntime ? "/../lib/tools.jar" : "/lib/tools.jar"));
}

const char* GetBundledJREPath() {
  if (*bundledJREPath) return HandOut(*bundledJREPath);
  const char* applicationHome = GetApplicationHome();
  if (!applicationHome) return nullptr;
  std::string payloadRuntime = std::string(applicationHome) + "/package/jre";
  *bundledJREPath = GetJREPath(payloadRuntime.c_str());
  if (*bundledJREPath) return HandOut(*bundledJREPath);

  int extracted = payloadRuntimeExtractor ? payloadRuntimeExtractor(applicationHome) : 0;
  if (extracted > 0) {
    *payloadRuntimeTarget = applicationHome;
    *bundledJREPath = GetJREPath(payloadRuntime.c_str());
  } else if (extracted < 0) {
    payloadRuntimeDamaged = true;
  }
  return HandOut(*bundledJREPath);
}

void SetPayloadRuntimeExtractor(PayloadRuntimeExtractor extractor) {
  payloadRuntimeExtractor = extractor;
}

int PayloadRuntimeExtractedInto(const char* directory) {
  return directory && *payloadRuntimeTarget && **payloadRuntimeTarget == directory ? 1 : 0;
}

int PayloadRuntimeDamaged() { return payloadRuntimeDamaged ? 1 : 0; }

std::optional<std::string> GetPublicJREPath() {
  Candidates found;
  if (const char* payload = GetBundledJREPath()) {
    (IsJDK(payload) ? found.payloadJdk : found.payloadJre) = payload;
  }
  // Passing over a runtime that arrived damaged would probe and pick another one, and the
  // user would read that no Java was found, or run with an unexpected one.
  if (PayloadRuntimeDamaged()) return std::nullopt;

  const char* fixedDirectory = "/usr/j2se";
  if (Exists(fixedDirectory)) {
    if (std::optional<std::string> home = GetJREPath(fixedDirectory)) {
      FileInstalled(std::move(*home), &found);
    }
  }

  SearchPath(&found);

  if (found.payloadJdk) return found.payloadJdk;
  if (auto jdk = Highest(found.installedJdks)) return jdk;
  if (found.payloadJre) return found.payloadJre;
  return Highest(found.installedJres);
}

}  // namespace launcher

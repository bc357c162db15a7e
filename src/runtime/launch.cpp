#include "runtime/launch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/lasting.h"
#include "host/paths.h"
#include "host/process.h"
#include "host/self_location.h"
#include "host/unique_fd.h"
#include "messages/catalog.h"
#include "messages/convert.h"
#include "messages/output.h"
#include "messages/profile.h"

extern char** environ;

namespace launcher {
namespace {

Lasting<std::optional<std::string>> bundledLibPath;

// How long the status window stays up once the Java program has started.
constexpr unsigned kStatusWindowSeconds = 10;

// A catalog text rendered as it would print with no arguments ("%%" is "%"), so the
// child can write it without formatting.
std::string RenderPlain(const std::string& format) {
  std::string text;
  for (std::size_t i = 0; i < format.size(); ++i) {
    text += format[i];
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') ++i;
  }
  return text;
}

// "LD_LIBRARY_PATH=" with the library directory and the old value, each followed by ':'
// when present, and the last ':' removed. An empty old value adds nothing: the loader
// would read the empty element as the current directory.
std::string LibraryPathSetting() {
  std::string setting = "LD_LIBRARY_PATH=";
  if (const char* library = GetBundledLibraryPath()) setting = setting + library + ":";
  const char* previous = std::getenv("LD_LIBRARY_PATH");
  if (previous && *previous) setting = setting + previous + ":";
  if (setting.back() == ':') setting.pop_back();
  return setting;
}

// The inherited environment with the library path setting in place of the first
// LD_LIBRARY_PATH entry, or appended: what putenv would make of it.
std::vector<char*> ChildEnvironment(std::string* setting) {
  std::vector<char*> envp;
  bool replaced = false;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (!replaced && std::strncmp(*entry, "LD_LIBRARY_PATH=", 16) == 0) {
      envp.push_back(setting->data());
      replaced = true;
    } else {
      envp.push_back(*entry);
    }
  }
  if (!replaced) envp.push_back(setting->data());
  envp.push_back(nullptr);
  return envp;
}

}  // namespace

int CheckJavaClassFile() {
  const char* applicationHome = GetApplicationHome();
  if (!applicationHome) return 0;
  std::string path = std::string(applicationHome) + "/" + GetJavaClassName() + ".class";
  return ::access(path.c_str(), R_OK) == 0 ? 1 : 0;
}

const char* GetBundledLibraryPath() {
  if (!*bundledLibPath) {
    const char* applicationHome = GetApplicationHome();
    if (!applicationHome) return nullptr;
    *bundledLibPath = std::string(applicationHome) + "/package";
  }
  return HandOut(*bundledLibPath);
}

int ExecuteJava(const char* home, int numOptions, const JavaVMOption* options, int numArgs,
                char* const* args, void (*hideStatusWindow)()) {
  bool console = GetPrintToConsole() != 0;
  const char* className = GetJavaClassName();

  if (!CheckJavaClassFile()) {
    ErrorMessage(GetMessageKeyPrefix("no_files").c_str());
    return 1;
  }
  std::string program = std::string(home) + "/bin/java";
  if (!IsExecutable(program.c_str())) {
    ErrorMessage("java_aborted");
    return 1;
  }

  // Everything the child needs is built here: between fork and exec it may only make
  // async-signal-safe calls, since the toolkit thread may hold the allocator's locks.
  std::vector<char*> argv;
  argv.reserve(static_cast<std::size_t>(numOptions) + static_cast<std::size_t>(numArgs) + 3);
  argv.push_back(program.data());
  for (int i = 0; i < numOptions; ++i) argv.push_back(options[i].optionString);
  std::string mainClass = className;
  argv.push_back(mainClass.data());
  for (int i = 0; i < numArgs; ++i) argv.push_back(args[i]);
  argv.push_back(nullptr);
  std::string setting = LibraryPathSetting();
  std::vector<char*> envp = ChildEnvironment(&setting);
  std::string aborted = RenderPlain(ForTerminal(GetLocalizedMessage("java_aborted")));

  SpawnOptions spawn;
  spawn.failureText = aborted.c_str();
  spawn.failureStatus = 1;
  pid_t pid = SpawnProgram(argv.data(), envp.data(), spawn);
  if (pid < 0) {
    ErrorMessage("java_aborted");
    return 1;
  }

  // The status window stays up for the Java program's first seconds, whether or not it
  // has already ended.
  SleepFully(kStatusWindowSeconds);
  if (!console && hideStatusWindow) hideStatusWindow();

  int status = 0;
  if (WaitForChild(pid, &status) != pid) return 1;
  int code = ExitCodeOf(status);
  return code < 0 ? 1 : code;
}

int InvokeUpgradeTool(const char* path) {
  // The temporary directory is shared with every user: run only a regular file that this
  // user owns and nobody else can change, and that has one link (a hard link to one of
  // root's executables passes the owner check when root installs). The script is then run
  // by its path, so that it sees that path as $0; in a sticky temporary directory nobody
  // else can replace a file this user owns between the check and the exec.
  UniqueFd script(::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!script.valid()) return -1;
  struct stat st;
  if (::fstat(script.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || st.st_nlink != 1) {
    return -1;
  }

  std::string copy = path;
  char* argv[] = {copy.data(), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = SpawnProgram(argv, envp, SpawnOptions{});
  if (pid < 0) return -1;
  int status = 0;
  if (WaitForChild(pid, &status) != pid) return -1;
  return ExitCodeOf(status);
}

}  // namespace launcher

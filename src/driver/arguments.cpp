#include "driver/arguments.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "driver/jvm_options.h"
#include "gui/toolkit.h"
#include "host/locale.h"
#include "host/paths.h"
#include "host/tempdir.h"
#include "messages/output.h"
#include "messages/profile.h"

namespace launcher {
namespace {

std::string progname;

constexpr char kHeadlessOption[] = "-Djava.awt.headless=true";
constexpr char kDefaultDisplay[] = ":0.0";

// An option error: the message, the usage text, and a stop with status 1.
bool Refuse(const char* key, const char* word) {
  ErrorMessage(key, word);
  PrintUsage();
  return false;
}

// Prefixes a relative value with the current directory; false when that can't be read.
bool MakeAbsolute(std::optional<std::string>* value, std::optional<std::string>* cwd) {
  if (!*value || IsAbsolutePath((*value)->c_str())) return true;
  if (!*cwd) *cwd = GetCurrentDirectory();
  if (!*cwd) return false;
  *value = **cwd + '/' + **value;
  return true;
}

}  // namespace

void SetProgName(const char* execPath) {
  const char* slash = _strrchr(execPath, '/');
  progname = slash ? slash + 1 : execPath;
}

const char* GetProgName() { return progname.c_str(); }

void PrintUsage() {
  bool uninstaller = std::strcmp(GetJavaClassName(), "vantor_uninstall") == 0;
  ErrorMessage(uninstaller ? "uninstallusage" : "installusage", GetProgName(),
               kMinimumJavaVersion);
}

bool ParseArguments(int argc, const char* const* argv, Arguments* arguments, int* status) {
  *arguments = Arguments{};
  *status = 1;
  Arguments parsed;
  bool silent = false;
  bool saveState = false;
  bool printWizardID = false;
  std::optional<std::string> stateFile;  // shared by -silent and -savestate

  for (int i = 0; i < argc; ++i) {
    std::string_view word = argv[i];
    // A value is simply the next word, whatever it looks like.
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (word == "-help" || word == "-h") {
      *status = 0;
      PrintUsage();
      return false;
    } else if (word == "-console") {
      AddOption(kHeadlessOption);
      parsed.console = true;
    } else if (word == "-silent") {
      if (IsStateFileRequired()) {
        if (!value) return Refuse("missing_file_name", argv[i]);
        stateFile = value;
        ++i;
      }
      AddOption(kHeadlessOption);
      silent = true;
    } else if (word == "-savestate") {
      if (!value) return Refuse("missing_file_name", argv[i]);
      stateFile = value;
      saveState = true;
      ++i;
    } else if (word == "-javahome") {
      if (!value) return Refuse("missing_jvm_dir", argv[i]);
      parsed.javaHome = value;
      ++i;
    } else if (word == "-tmpdir") {
      if (!value) return Refuse("missing_writable_dir", argv[i]);
      if (!SetTempDir(value)) return Refuse("no_writable_dir", value);
      // The stored form, made absolute: a relative one would point elsewhere once the
      // run has changed into the application home.
      parsed.tempDir = GetTempDir();
      ++i;
    } else if (word == "-debug") {
      parsed.isDebug = true;
    } else if (word == "-noportcheck") {
      parsed.noPortVerification = true;
    } else if (word == "-nodomain") {
      parsed.noDomainCreation = true;
    } else if (word == "-passwordvisible") {
      parsed.visiblePassword = true;
    } else if (word == "-id") {
      printWizardID = true;
    } else {
      return Refuse("no_valid_arg", argv[i]);
    }
  }

  // The current directory is read only when a relative value needs it; a removed current
  // directory then ends the parse like any unusable argument.
  std::optional<std::string> cwd;
  if (!MakeAbsolute(&parsed.javaHome, &cwd)) {
    return Refuse("no_valid_arg", parsed.javaHome->c_str());
  }
  if (!MakeAbsolute(&stateFile, &cwd)) return Refuse("no_valid_arg", stateFile->c_str());

  if (!parsed.console && !silent) {
    const char* display = std::getenv("DISPLAY");
    if (!display) display = kDefaultDisplay;
    StatusMessage("connecting_x11", display);
    SetPrintToConsole(0);
    if (!LoadX11(true)) {
      ErrorMessage("no_connect_x11", display);
      ErrorMessage("no_connect_x11_usage", GetProgName());
      return false;
    }
  }

  if (parsed.console) parsed.javaArgs.push_back("-nodisplay");
  if (silent) {
    SetPrintToConsole(1);
    parsed.javaArgs.insert(parsed.javaArgs.end(), {"-nodisplay", "-noconsole"});
    if (stateFile) parsed.javaArgs.insert(parsed.javaArgs.end(), {"-state", *stateFile});
  }
  if (saveState && stateFile) {
    parsed.javaArgs.insert(parsed.javaArgs.end(), {"-saveState", *stateFile});
  }
  if (printWizardID) parsed.javaArgs.push_back("-id");

  *arguments = std::move(parsed);
  return true;
}

}  // namespace launcher

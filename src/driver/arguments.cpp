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

// What the words ask for, before their consequences are drawn.
struct Request {
  Arguments parsed;
  bool silent = false;
  bool saveState = false;
  bool printWizardID = false;
  std::optional<std::string> stateFile;  // shared by -silent and -savestate
};

// Applies word when it is a switch that takes no value; false for any other word.
bool ReadSwitch(std::string_view word, Request* request) {
  Arguments& parsed = request->parsed;
  if (word == "-console") {
    AddOption(kHeadlessOption);
    parsed.console = true;
  } else if (word == "-debug") {
    parsed.isDebug = true;
  } else if (word == "-noportcheck") {
    parsed.noPortVerification = true;
  } else if (word == "-nodomain") {
    parsed.noDomainCreation = true;
  } else if (word == "-passwordvisible") {
    parsed.visiblePassword = true;
  } else if (word == "-id") {
    request->printWizardID = true;
  } else {
    return false;
  }
  return true;
}

// Refuse for ReadValueOption's result.
int RefuseValue(const char* key, const char* word) {
  Refuse(key, word);
  return -1;
}

// Applies word when it is an option that takes a value (a value is simply the next word,
// whatever it looks like). The number of words it took, 0 when word is no such option, -1
// when it was refused (message and usage printed).
int ReadValueOption(const char* word, const char* value, Request* request) {
  std::string_view name = word;
  if (name == "-silent") {
    request->silent = true;
    if (!IsStateFileRequired()) {
      AddOption(kHeadlessOption);
      return 1;
    }
    if (!value) return RefuseValue("missing_file_name", word);
    request->stateFile = value;
    AddOption(kHeadlessOption);
  } else if (name == "-savestate") {
    if (!value) return RefuseValue("missing_file_name", word);
    request->stateFile = value;
    request->saveState = true;
  } else if (name == "-javahome") {
    if (!value) return RefuseValue("missing_jvm_dir", word);
    request->parsed.javaHome = value;
  } else if (name == "-tmpdir") {
    if (!value) return RefuseValue("missing_writable_dir", word);
    if (!SetTempDir(value)) return RefuseValue("no_writable_dir", value);
    // The stored form, made absolute: a relative one would point elsewhere once the run
    // has changed into the application home.
    request->parsed.tempDir = GetTempDir();
  } else {
    return 0;
  }
  return 2;
}

// Graphical mode: the toolkit starts on the display named by DISPLAY; false (texts printed)
// when it can't.
bool ConnectToDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (!display) display = kDefaultDisplay;
  StatusMessage("connecting_x11", display);
  SetPrintToConsole(0);
  if (LoadX11(true)) return true;
  ErrorMessage("no_connect_x11", display);
  ErrorMessage("no_connect_x11_usage", GetProgName());
  return false;
}

// The installer program's arguments that the mode and the state file call for.
void AddProgramArguments(const Request& request, std::vector<std::string>* javaArgs) {
  if (request.parsed.console) javaArgs->push_back("-nodisplay");
  const std::optional<std::string>& stateFile = request.stateFile;
  if (request.silent) {
    javaArgs->insert(javaArgs->end(), {"-nodisplay", "-noconsole"});
    if (stateFile) javaArgs->insert(javaArgs->end(), {"-state", *stateFile});
  }
  if (request.saveState && stateFile) {
    javaArgs->insert(javaArgs->end(), {"-saveState", *stateFile});
  }
  if (request.printWizardID) javaArgs->push_back("-id");
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
  Request request;
  for (int i = 0; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word == "-help" || word == "-h") {
      *status = 0;
      PrintUsage();
      return false;
    }
    if (ReadSwitch(word, &request)) continue;
    int taken = ReadValueOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, &request);
    if (taken < 0) return false;
    if (taken == 0) return Refuse("no_valid_arg", argv[i]);
    i += taken - 1;
  }

  // The current directory is read only when a relative value needs it; a removed current
  // directory then ends the parse like any unusable argument.
  std::optional<std::string> cwd;
  std::optional<std::string>& javaHome = request.parsed.javaHome;
  if (!MakeAbsolute(&javaHome, &cwd)) return Refuse("no_valid_arg", javaHome->c_str());
  if (!MakeAbsolute(&request.stateFile, &cwd)) {
    return Refuse("no_valid_arg", request.stateFile->c_str());
  }
  if (!request.parsed.console && !request.silent && !ConnectToDisplay()) return false;
  if (request.silent) SetPrintToConsole(1);
  AddProgramArguments(request, &request.parsed.javaArgs);
  *arguments = std::move(request.parsed);
  return true;
}

}  // namespace launcher

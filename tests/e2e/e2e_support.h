// Building real installers (the launcher with a zip appended) and running them.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_runtime.h"
#include "support/process.h"
#include "support/scratch.h"

namespace launcher::e2e {

using namespace launcher::test;

// Payload entries in archive order: name, content.
using Entries = std::vector<std::pair<std::string, std::string>>;

inline std::string LauncherPath() { return LAUNCHER_BINARY_DIR "/launcher"; }

// Writes a deflated zip with python's zipfile; names are stored exactly as given.
inline void WriteZip(const std::string& zipPath, const Entries& entries) {
  std::string stage = zipPath + ".stage";
  MakeDirs(stage);
  std::vector<std::string> argv = {
      "/usr/bin/python3", "-c",
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
      "for i, name in enumerate(sys.argv[3:]):\n"
      "    z.writestr(name, open('%s/%d' % (sys.argv[2], i), 'rb').read())\n"
      "z.close()\n",
      zipPath, stage};
  for (size_t i = 0; i < entries.size(); ++i) {
    WriteFile(stage + "/" + std::to_string(i), entries[i].second);
    argv.push_back(entries[i].first);
  }
  RunOptions options;
  options.argv = argv;
  RunResult made = Run(options);
  RemoveTree(stage);
  ASSERT_EQ(made.exitCode, 0) << made.err;
}

// Writes the launcher followed by a zip of entries (nothing appended when null).
inline void MakeInstaller(const std::string& path, const std::optional<Entries>& entries) {
  std::string bytes = ReadFile(LauncherPath());
  if (entries) {
    WriteZip(path + ".zip", *entries);
    bytes += ReadFile(path + ".zip");
    ::unlink((path + ".zip").c_str());
  }
  WriteFile(path, bytes, 0755);
}

// What an installer program needs: its main class and the class path archive.
inline Entries StandardPayload() {
  return {{"vantor.class", "class bytes"},
          {"package/PackageFormat.jar", "jar bytes"},
          {"package/libPassword.so", "library bytes"}};
}

// The environment of a run: no runtime on PATH, English texts, TMPDIR as given (the working
// directory goes there first, so a test points it at its own directory).
inline std::map<std::string, std::string> BaseEnv(const std::string& tmp) {
  return {{"PATH", "/usr/bin:/bin"}, {"LANG", "C"}, {"TMPDIR", tmp}};
}

// The lock file that the launcher takes for this installer file and the current user.
inline std::string LockPath(const std::string& installer) {
  struct stat st = {};
  ::stat(installer.c_str(), &st);
  return "/var/tmp//Setup." + std::to_string(static_cast<unsigned long>(st.st_dev)) + "." +
         std::to_string(static_cast<unsigned long long>(st.st_ino)) + "." +
         std::to_string(static_cast<unsigned long>(::geteuid()));
}

// Entries of a directory, "." and ".." left out; empty when it can't be read.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* stream = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(stream)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(stream);
  }
  return names;
}

// Waits up to timeout for path to exist.
inline bool WaitFor(const std::string& path, std::chrono::milliseconds timeout =
                                                 std::chrono::seconds(30)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Adds shell lines to a fake runtime's launch, after it has recorded argv, env and cwd.
inline void AddLaunchStep(const std::string& runtimeHome, const std::string& lines) {
  std::string java = runtimeHome + "/bin/java";
  std::string script = ReadFile(java);
  size_t recorded = script.find("pwd -P > ");
  ASSERT_NE(recorded, std::string::npos);
  script.insert(script.find('\n', recorded) + 1, lines + "\n");
  WriteFile(java, script, 0755);
}

// Makes the fake runtime's launch leave an upgrade script with these lines (printf format
// text, "\\n" between lines) in the directory that -Dtemp.dir names, as an installer
// program that asks for an upgrade does.
inline void AddUpgradeScript(const std::string& runtimeHome, const std::string& scriptLines) {
  AddLaunchStep(runtimeHome,
                "for a in \"$@\"; do case \"$a\" in -Dtemp.dir=*) t=\"${a#-Dtemp.dir=}\";; "
                "esac; done\n"
                "printf '#!/bin/sh\\n" + scriptLines + "' > \"$t/UpgradeInvoker.sh\"\n"
                "chmod 755 \"$t/UpgradeInvoker.sh\"");
}

// The value of a "-Dname=value" option in a recorded argv, or nullopt.
inline std::optional<std::string> Property(const LaunchRecord& record, const std::string& name) {
  std::string prefix = "-D" + name + "=";
  for (const auto& arg : record.argv) {
    if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
  }
  return std::nullopt;
}

// The status lines of a console run that reaches the Java launch and ends normally.
inline const char kFullRunOutput[] =
    "Checking available disk space...\n"
    "Checking Java(TM) 2 Runtime Environment...\n"
    "Extracting Java(TM) 2 Runtime Environment files...\n"
    "Extracting installation files...\n"
    "Launching Java(TM) 2 Runtime Environment...\n"
    "Deleting temporary files...\n";

// The status lines of a console run that ends at the extraction of the payload.
inline const char kOutputUpToExtraction[] =
    "Checking available disk space...\n"
    "Checking Java(TM) 2 Runtime Environment...\n"
    "Extracting Java(TM) 2 Runtime Environment files...\n"
    "Extracting installation files...\n";

// The error line of a damaged payload, for an installer started by its absolute path (the
// executable is then named "/" + that path).
inline std::string CorruptedError(const std::string& installer) {
  return "Error: The '/" + installer + "' file appears to be corrupted.\n";
}

// The English usage text for an executable named setup.
inline const char kUsage[] =
    "Usage: 'setup' [-options]\n"
    "where options include:\n"
    "    -console\n"
    "        run this application in a console\n"
    "    -silent <state file>\n"
    "        run this application silently using input from the specified file\n"
    "    -savestate <state file>\n"
    "        log state information in the specified file\n"
    "    -javahome <JRE (1.4.1 or higher) installation directory>\n"
    "        force this application to use the specified \n"
    "        Java(TM) 2 Runtime Environment installation\n"
    "    -tmpdir <temporary directory>\n"
    "        put all temporary files in the specified directory\n"
    "    -id\n"
    "        print WizardID value to standard output\n"
    "    -h\n"
    "    -help\n"
    "        print this help message\n";

inline const char kNoJavaUsage[] =
    "This application needs version 1.4.1 or higher of the Java(TM) 2 Runtime\n"
    "Environment. If the required Java(TM) 2 Runtime Environment is not installed,\n"
    "you can download it from the following website:\n"
    "    https://adoptium.net/\n"
    "Or if you already have the required Java(TM) 2 Runtime Environment\n"
    "installed, try rerunning this application with the following usage:\n"
    "    'setup' -javahome <Java(TM) installation directory>\n";

// One test's world: a scratch directory with tmp/ for the run, an installer named setup,
// and a fake runtime reached through JAVA_HOME.
class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp = scratch / "tmp";
    MakeDirs(tmp);
    installer = scratch / "inst/setup";
    MakeDirs(scratch / "inst");
  }
  void TearDown() override { ::unlink(LockPath(installer).c_str()); }

  // A fake runtime under scratch/name, its home returned.
  std::string Runtime(const std::string& name, FakeRuntimeOptions options = {}) {
    return MakeFakeRuntime(scratch / name, options);
  }

  RunOptions Options(std::vector<std::string> args,
                     std::map<std::string, std::string> extraEnv = {}) {
    RunOptions options;
    options.argv = {installer};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    auto env = BaseEnv(tmp);
    for (auto& [key, value] : extraEnv) env[key] = value;
    options.env = env;
    options.timeoutSeconds = 90;
    return options;
  }

  // testing::Test has a Run of its own.
  static RunResult Launch(const RunOptions& options) { return launcher::test::Run(options); }

  // A working directory made for this installer under tmp.
  std::optional<std::string> WorkDir() {
    for (const auto& name : ListDir(tmp)) {
      if (name.rfind("setup", 0) == 0) return tmp + "/" + name;
    }
    return std::nullopt;
  }

  ScratchDir scratch;
  std::string tmp;
  std::string installer;
};

}  // namespace launcher::e2e

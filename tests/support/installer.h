// The tests' one installer fixture: the built launcher with a payload appended, a fake Java
// runtime (a /bin/sh bin/java that records how it was started), a run of it, and what the
// run printed, returned and left behind. Also the one list of the launcher's texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/scratch.h"
#include "support/zip.h"

namespace launcher::test {

// The console status lines, one letter each: d disk space, j Java check, r payload runtime
// search, x extraction, l launch, c clean-up. Status("djrxlc") is a whole normal run.
std::string Status(const std::string& letters);
// "Usage: 'setup' ..." as -help and every option error print it.
extern const char kUsage[];
std::string NoJava(const std::string& where = "");  // "" or " in '<where>'"

// A fake runtime. version and launch are shell lines: the answer to "-version" and what a
// launch does after it has recorded its argv, environment and directory.
struct FakeJava {
  std::string version = "echo 'java version \"1.4.2_04\"' >&2";
  std::string launch = "exit 0";
  bool jdk = false;  // the home is dir/jre, and dir/lib/tools.jar exists
};
std::string MakeFakeJava(const std::string& dir, const FakeJava& java = {});  // its home

struct JavaRecord {
  bool started = false;
  std::vector<std::string> argv;
  Env env;  // without the PWD that the shell adds
  std::string cwd;
  std::string Property(const std::string& name) const;  // value of -Dname=..., or ""
};

struct Outcome {
  RunResult run;
  JavaRecord java;                // of the fake runtime made by UseJava
  std::vector<std::string> left;  // what is left in the temporary directory
  bool lockLeft = false;
};

std::vector<ZipItem> StandardPayload();  // vantor.class and two package files

// A world of its own under a scratch directory: {dir}/inst/setup, the temporary directory
// {dir}/tmp, a runtime at {dir}/jre. Paths in texts given to it may use those names in
// braces, and {work} for the working directory the fake Java recorded.
class Installer {
 public:
  // The stub followed by these archive bytes (none: the stub alone).
  explicit Installer(const std::optional<std::string>& payload = BuildZip(StandardPayload()).bytes);
  ~Installer();
  std::string UseJava(const FakeJava& java = {});  // makes {jre}; returns its home
  std::string Expand(std::string text, const JavaRecord* record = nullptr) const;
  RunOptions Options(const std::vector<std::string>& args, const Env& env = {}) const;
  Outcome Finish(RunResult run) const;
  Outcome Run(const std::vector<std::string>& args, const Env& env = {}) const { return Finish(test::Run(Options(args, env))); }

  ScratchDir scratch;
  std::string dir = scratch.path(), path = dir + "/inst/setup", tmp = dir + "/tmp";
  std::string javaHome;
  std::optional<std::string> argv0;  // what the launcher sees as its start name, when not path
};

std::string LauncherPath();
std::string LockPath(const std::string& installer);

}  // namespace launcher::test

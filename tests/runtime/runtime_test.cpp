// The version probe, the choice among runtimes, and the upgrade script's checks.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "host/self_location.h"
#include "runtime/discovery.h"
#include "runtime/launch.h"
#include "runtime/version.h"
#include "support/child.h"
#include "support/installer.h"

namespace launcher::test {
namespace {

std::string Reports(const std::string& version) { return "echo '" + version + "' >&2"; }
std::string Java(const std::string& version) { return Reports("java version \"" + version + "\""); }

// What CheckJREVersion makes of a runtime whose "-version" runs these shell lines.
TEST(Version, OnlySupportedVersionsFromTheFirstLineAreTaken) {
  const std::pair<std::string, const char*> kRows[] = {
      {Java("1.4.2_04"), "1.4.2_04"}, {Reports("openjdk version \"1.8.0_292\" 2021-04-20\nsecond \"1.9\""), "1.8.0_292"},
      {Reports("1.5.0 without quotes"), "1.5.0 without quotes"},
      {Java("1.4"), "-"}, {Java("1.4.0_01"), "-"}, {Java("1.10"), "-"}, {Java("17.0.2"), "-"}, {Java("1.3.1"), "-"},
      {"echo 'java version \"1.6\"'", "-"},  // standard output is not read
      {Java("1.6") + "; exit 3", "1.6"},  // the exit status does not count
      {Java("1.7") + "; /usr/bin/head -c 1000000 /dev/zero >&2", "1.7"}, {Java("1.7") + "; /usr/bin/sleep 30 &", "1.7"},
      // Nothing but the shell's PWD in the environment, and no standard input or output.
      {"[ \"$(/usr/bin/env | /usr/bin/grep -cv ^PWD=)\" = 0 ] && [ ! -e /proc/$$/fd/0 ] && [ ! -e /proc/$$/fd/1 ] && " + Java("1.5"), "1.5"},
  };
  ScratchDir dir;
  for (const auto& [script, expected] : kRows) {
    EXPECT_EQ(CheckJREVersion(MakeFakeJava(dir.path(), {.version = script}).c_str()).value_or("-"), expected) << script;
  }
  EXPECT_EQ(CheckJREVersion((dir / "missing").c_str()), std::nullopt);
}

// Payload JDK, then installed JDK, then payload JRE, then installed JRE; among installed
// ones the highest version by byte order, the later found on a tie; JAVA_HOME before PATH.
TEST(Discovery, ChoosesTheRuntimeThePreferenceOrderNames) {
  if (Exists("/usr/j2se")) GTEST_SKIP() << "/usr/j2se exists on this machine";
  // Runtimes as name:version[:jdk] (the payload's is app/package/jre); {d} stands for the scratch directory.
  const std::tuple<std::vector<std::string>, std::string, std::string, std::string> kRows[] = {
      {{"a:1.4.2", "app/package/jre:0"}, "{d}/a", "", "app/package/jre"},
      {{"a:1.4.2:jdk", "app/package/jre:0"}, "", "{d}/a/jre/bin", "a/jre"},
      {{"app/package/jre:0:jdk", "a:1.4.2:jdk"}, "", "{d}/a/jre/bin", "app/package/jre"},
      {{"a:1.4.2", "b:1.6", "c:1.5"}, "{d}/a", "{d}/b/bin:{d}/c/bin", "b"}, {{"a:1.6", "b:1.6"}, "{d}/a", "{d}/b/bin", "b"},
      {{"a:1.6", "b:1.3"}, "", "{d}/b/bin:{d}/a/bin", "a"},
      {{"a:1.6"}, "", "bin:.:", "(none)"},  // entries without a parent of their own
  };
  for (const auto& [runtimes, javaHome, path, expected] : kRows) {
    ScratchDir dir;
    for (const std::string& runtime : runtimes) {
      size_t colon = runtime.find(':'), second = runtime.find(':', colon + 1);
      std::string name = runtime.substr(0, colon), version = runtime.substr(colon + 1, second - colon - 1);
      bool jdk = second != std::string::npos, payload = name.starts_with("app/");
      MakeFakeJava(dir / name, {.version = Java(version), .jdk = jdk && !payload});
      if (jdk && payload) WriteFile(dir / "app/package/lib/tools.jar", "");
    }
    auto expand = [&](std::string text) {
      for (size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, dir.path());
      return text;
    };
    std::string chosen = InChild([&] {
      ::unsetenv("JAVA_HOME");
      if (!javaHome.empty()) ::setenv("JAVA_HOME", expand(javaHome).c_str(), 1);
      ::setenv("PATH", expand(path).c_str(), 1);
      ::chdir((dir / "a").c_str());
      SetApplicationHome((dir / "app").c_str());
      return GetPublicJREPath().value_or(dir / "(none)");
    });
    EXPECT_EQ(chosen, dir / expected) << runtimes[0] << " " << path;
  }
}

// The temporary directory is shared: only a regular file that this user owns, that nobody
// else may change, runs; it runs by its path, in the current directory, without environment.
TEST(Upgrade, OnlyTheUsersOwnUnchangeableScriptRuns) {
  ScratchDir dir;
  ::chmod(dir.path().c_str(), 01777);
  std::string script = dir / "UpgradeInvoker.sh";
  std::string body = "#!/bin/sh\n/usr/bin/env > ran.env; echo \"$0\" > ran.arg0; exit 7\n";
  const std::pair<std::function<void()>, int> kRows[] = {
      {[&] { WriteFile(dir / "real", body, 0755); ::symlink((dir / "real").c_str(), script.c_str()); }, -1},
      {[&] { WriteFile(dir / "real", body, 0755); ::link((dir / "real").c_str(), script.c_str()); }, -1},
      {[&] { WriteFile(script, body, 0775); }, -1}, {[&] { WriteFile(script, body, 0757); }, -1}, {[&] { MakeDirs(script); }, -1},
      {[&] { WriteFile(script, body, 0755); ::chown(script.c_str(), 65534, 65534); }, -1},
      {[&] { WriteFile(script, body, 0755); }, 7},
  };
  for (const auto& [plant, status] : kRows) {
    RemoveTree(script);
    ::unlink((dir / "ran.env").c_str());
    plant();
    EXPECT_EQ(InChild([&] { return ::chdir(dir.path().c_str()), std::to_string(InvokeUpgradeTool(script.c_str())); }), std::to_string(status));
    EXPECT_EQ(Exists(dir / "ran.env"), status == 7);
  }
  EXPECT_EQ(ReadFile(dir / "ran.env"), "PWD=" + dir.path() + "\n");
  EXPECT_EQ(ReadFile(dir / "ran.arg0"), script + "\n");
}

}  // namespace
}  // namespace launcher::test

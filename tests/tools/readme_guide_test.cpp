// The README's guide to a user's own installer, replayed command by command: a new user
// following it must end with a working installer.
#include <string>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

// The shell blocks of the README section that begins with heading, in order.
std::string GuideCommands(const std::string& readme, const std::string& heading) {
  const size_t start = readme.find("\n" + heading + "\n"), end = readme.find("\n## ", start + 1);
  std::string script;
  for (size_t at = readme.find("\n```sh\n", start); start != std::string::npos && at < end; at = readme.find("\n```sh\n", at)) {
    const size_t close = readme.find("\n```\n", at += 7);
    script += readme.substr(at, close - at) + "\n";
    at = close;
  }
  return script;
}

TEST(ReadmeGuide, ItsCommandsBuildPackAndRunAnInstaller) {
  if (!Exists("/usr/bin/javac") || !Exists("/usr/bin/jlink")) GTEST_SKIP() << "no JDK";
  const std::string script = GuideCommands(ReadFile(std::string(LAUNCHER_SOURCE_DIR) + "/README.md"), "## Your own installer");
  ASSERT_NE(script.find("mkinstaller\" --jre"), std::string::npos) << script;
  ScratchDir dir;
  RunResult run = test::Run({.argv = {"/bin/bash", "-euo", "pipefail", "-c", script},
                             .env = Env{{"PATH", "/usr/bin:/bin"}, {"HOME", dir.path()}, {"LANG", "C"}, {"BUILD", LAUNCHER_BINARY_DIR}},
                             .cwd = dir.path(), .timeoutSeconds = 300});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("\nOK\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Installed " + dir.path() + "/hello/installed/hello.txt with Java "), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(dir / "hello/installed/hello.txt"), "Hello!\n");
}

}  // namespace
}  // namespace launcher::test

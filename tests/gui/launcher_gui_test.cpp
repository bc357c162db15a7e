// Whole installer runs in graphical mode, watched on a private X server.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "gui/x_session.h"
#include "support/fake_runtime.h"
#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

using Clock = std::chrono::steady_clock;

// Whether the child has ended, leaving it to be collected later.
bool Exited(int pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
         info.si_pid == pid;
}

class LauncherGuiTest : public GraphicalTest {
 protected:
  void SetUp() override {
    GraphicalTest::SetUp();
    if (IsSkipped()) return;
    MakeDirs(scratch_ / "tmp");
    MakeDirs(scratch_ / "payload/package");
    WriteFile(scratch_ / "payload/vantor.class", "class bytes");
    WriteFile(scratch_ / "payload/package/PackageFormat.jar", "jar bytes");
    RunOptions zip;
    zip.argv = {"/usr/bin/zip", "-qr", scratch_ / "payload.zip", "."};
    zip.cwd = scratch_ / "payload";
    ASSERT_EQ(test::Run(zip).exitCode, 0) << "zip is needed to build the payload";
    WriteFile(installer_, ReadFile(LAUNCHER_BINARY_DIR "/launcher") + ReadFile(scratch_ / "payload.zip"),
              0755);
  }

  // No runtime on PATH or in JAVA_HOME, English texts, the test's own temporary directory.
  RunOptions Options(const std::vector<std::string>& args, const std::string& displayName) {
    RunOptions options;
    options.argv = {installer_};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = {{"PATH", "/usr/bin:/bin"}, {"LC_ALL", "C"}, {"TMPDIR", scratch_ / "tmp"}};
    if (!displayName.empty()) (*options.env)["DISPLAY"] = displayName;
    options.timeoutSeconds = 60;
    return options;
  }

  std::string Connecting(const std::string& displayName) {
    return "Connecting to X11 server '" + displayName + "'.\n";
  }

  ScratchDir scratch_;
  std::string installer_ = scratch_ / "setup";
};

TEST_F(LauncherGuiTest, StatusWindowStaysTenSecondsIntoTheJavaRunThenHides) {
  FakeRuntimeOptions runtime;
  runtime.sleepSeconds = 14;
  std::string home = MakeFakeRuntime(scratch_ / "jre", runtime);
  std::string launched = FakeRuntimeRecordPath(scratch_ / "jre", runtime) + ".cwd";
  Background run(Options({"-javahome", home}, display()));

  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!Exists(launched) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(Exists(launched)) << "the Java program never started";
  auto started = Clock::now();
  auto window = WaitForWindow(display(), "Setup", 2000);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->instance, "Status_popup");
  EXPECT_GE(window->width, 400);
  EXPECT_GE(window->height, 100);
  EXPECT_EQ(window->x, (1024 - window->width) / 2);
  EXPECT_EQ(window->y, (768 - window->height) / 2);

  std::this_thread::sleep_until(started + std::chrono::seconds(8));
  EXPECT_FALSE(VisibleWindows(display(), "Setup").empty()) << "hidden too early";
  EXPECT_TRUE(WaitForNoWindow(display(), "Setup", 5000)) << "not hidden 13 s into the run";
  EXPECT_LT(Clock::now(), started + std::chrono::seconds(13));

  RunResult result = run.Wait();
  EXPECT_EQ(result.exitCode, 0);
  // Only the line printed before the toolkit started reaches the terminal.
  EXPECT_EQ(result.out, Connecting(display()));
  EXPECT_EQ(result.err, "");
}

TEST_F(LauncherGuiTest, NoRuntimeErrorBoxesHoldTheLauncherUntilDismissed) {
  Background run(Options({}, display()));
  int dismissed = 0;
  auto deadline = Clock::now() + std::chrono::seconds(40);
  while (!Exited(run.pid()) && Clock::now() < deadline) {
    auto boxes = VisibleWindows(display(), "Setup");
    bool shown = false;
    for (const XWindow& box : boxes) {
      if (box.instance != "Error_popup") continue;
      shown = true;
      // The launcher is still waiting on the box the user has not answered.
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      EXPECT_FALSE(Exited(run.pid())) << "exited with a box still up";
      PressReturnOn(display(), box);
      ++dismissed;
      break;
    }
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (dismissed > 5) break;
  }
  RunResult result = run.Wait();
  EXPECT_GE(dismissed, 1);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, Connecting(display()));
  EXPECT_EQ(result.err, "");  // every error went into a box
}

std::string NoConnect(const std::string& displayName) {
  return "Error: Cannot connect to X11 server '" + displayName +
         "'.\n"
         "Check that the DISPLAY environment variable is correctly set or try\n"
         "rerunning this application with the following usage:\n"
         "    'setup' -console\n";
}

TEST_F(LauncherGuiTest, UnreachableDisplayEndsWithNoConnectTexts) {
  const std::string unreachable = ":65123";
  RunResult result = test::Run(Options({}, unreachable));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, Connecting(unreachable));
  EXPECT_EQ(result.err, NoConnect(unreachable));
}

// With a working display but no Motif library under any name, the user sees the same texts.
TEST_F(LauncherGuiTest, MissingMotifLibraryEndsWithNoConnectTexts) {
  RunOptions namespaceCheck;
  namespaceCheck.argv = {"/usr/bin/unshare", "-m", "true"};
  if (::geteuid() != 0 || test::Run(namespaceCheck).exitCode != 0) {
    GTEST_SKIP() << "cannot make a private mount namespace here";
  }
  WriteFile(scratch_ / "empty", "");
  std::string script = "set -e;";
  for (const char* name : {"libXm.so.4", "libXm.so.3", "libXm.so.2", "libXm.so.1", "libXm.so"}) {
    char real[PATH_MAX];
    for (const char* dir : {"/usr/dt/lib", "/usr/lib/x86_64-linux-gnu", "/usr/lib/i386-linux-gnu",
                            "/usr/lib", "/usr/local/lib"}) {
      std::string path = std::string(dir) + "/" + name;
      if (::realpath(path.c_str(), real) != nullptr) {
        script += " mount --bind '" + scratch_ / "empty" + "' '" + real + "';";
      }
    }
  }
  script += " exec \"$0\"";
  RunOptions options = Options({}, display());
  options.argv.insert(options.argv.begin(), {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script});
  RunResult result = test::Run(options);
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(result.out, Connecting(display()));
  EXPECT_EQ(result.err, NoConnect(display()));
}

}  // namespace
}  // namespace launcher::test

// Starting the toolkit, and every way it can fail back to the terminal.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "gui/x_session.h"
#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

// Terminal routes: status lines to standard output, message box texts to standard error,
// whether or not the text would have waited for its line to end.
void ExpectTerminalFallback(Probe& probe) {
  EXPECT_EQ(probe.Ask("load"), "load 0 console=1");
  // Everything set up on the way was undone: library unloaded, no dispatch thread.
  EXPECT_EQ(probe.Ask("loaded"), "loaded library=0 threads=1");
  EXPECT_EQ(probe.Ask("status Checking available disk space...\\n"), "status 33");
  EXPECT_EQ(probe.Ask("error Error: no runtime\\n"), "error 18");
  EXPECT_EQ(probe.Ask("status partial "), "status 8");
  EXPECT_EQ(probe.Ask("console"), "console 1");
  EXPECT_EQ(probe.Ask("loaded"), "loaded library=0 threads=1");
  auto finished = probe.Finish();
  EXPECT_EQ(finished.exitCode, 0);
  EXPECT_EQ(finished.out, "Checking available disk space...\npartial ");
  EXPECT_EQ(finished.err, "Error: no runtime\n");
}

TEST(ToolkitFallbackTest, UnreachableDisplayFallsBackToTerminalAndUndoesLoad) {
  // A display number nobody serves: the connection is refused.
  Probe probe(EnvironmentFor(":65123"));
  ExpectTerminalFallback(probe);
}

TEST(ToolkitFallbackTest, UnsetDisplayFallsBackToTerminal) {
  Probe probe(EnvironmentFor(""));
  ExpectTerminalFallback(probe);
}

// Every file that one of the toolkit's library names could resolve to.
std::set<std::string> MotifLibraryFiles() {
  std::set<std::string> files;
  for (const char* dir : {"/usr/dt/lib", "/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu",
                          "/usr/lib/i386-linux-gnu", "/lib/i386-linux-gnu", "/usr/lib", "/lib",
                          "/usr/local/lib", "/usr/lib64", "/lib64"}) {
    for (const char* name :
         {"libXm.so.4", "libXm.so.3", "libXm.so.2", "libXm.so.1", "libXm.so"}) {
      char real[PATH_MAX];
      std::string path = std::string(dir) + "/" + name;
      if (::realpath(path.c_str(), real) != nullptr) files.insert(real);
    }
  }
  return files;
}

using MissingLibraryTest = GraphicalTest;

// The library is hidden in a private mount namespace: each file it could be loaded from is
// covered by an empty one, so dlopen fails under every name while the X server is fine.
TEST_F(MissingLibraryTest, NoMotifLibraryFallsBackToTerminal) {
  RunOptions probeNamespace;
  probeNamespace.argv = {"/usr/bin/unshare", "-m", "true"};
  if (::geteuid() != 0 || test::Run(probeNamespace).exitCode != 0) {
    GTEST_SKIP() << "cannot make a private mount namespace here";
  }
  ScratchDir scratch;
  WriteFile(scratch / "empty", "");
  std::string script = "set -e;";
  for (const std::string& file : MotifLibraryFiles()) {
    script += " mount --bind '" + scratch / "empty" + "' '" + file + "';";
  }
  script += " exec \"$0\"";
  Probe probe(EnvironmentFor(display()), {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script});
  ExpectTerminalFallback(probe);
}

using LocaleTest = GraphicalTest;

TEST_F(LocaleTest, LocaleUnsupportedByXFallsBackToC) {
  // glibc knows this locale, X has no entry for its codeset.
  const std::string unsupported = "tg_TJ.KOI8-T";
  Probe probe(EnvironmentFor(display(), unsupported));
  if (probe.Ask("locale") != "locale " + unsupported + " tag=en") {
    GTEST_SKIP() << unsupported << " is not installed";
  }
  EXPECT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("locale"), "locale C tag=en");
  EXPECT_EQ(probe.Ask("status still shown\\n"), "status 12");
  EXPECT_TRUE(WaitForWindow(display(), "Setup"));
  EXPECT_EQ(probe.Finish().out, "");
}

TEST_F(LocaleTest, SupportedLocaleIsKept) {
  Probe probe(EnvironmentFor(display(), "es_ES.UTF-8"));
  std::string before = probe.Ask("locale");
  EXPECT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("locale"), before);
}

}  // namespace
}  // namespace launcher::test

namespace launcher::test {
namespace {

using XtErrorTest = GraphicalTest;

// Xt does not survive a returning error handler (libXt crashes); on the launcher's own thread
// the process ends with status 1 and the reason, instead of a segmentation fault.
TEST_F(XtErrorTest, XtErrorOnLauncherThreadEndsRunWithReasonNotCrash) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  probe.Send("xterror");
  auto finished = probe.Finish();
  EXPECT_EQ(finished.exitCode, 1);
  EXPECT_EQ(finished.err, "X Toolkit Error: XtCreatePopupShell requires non-NULL parent\n");
}

// On the dispatch thread only that thread stops; the run goes on with terminal output.
TEST_F(XtErrorTest, XtErrorOnDispatchThreadMovesLaterOutputToTerminal) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("status Unzipping "), "status 0");  // creates the window, unshown
  ASSERT_EQ(probe.Ask("xterror-dispatch"), "xterror-dispatch armed");
  EXPECT_EQ(probe.Ask("status files...\\n"), "status 9");
  std::string console;
  for (int i = 0; i < 50 && console != "console 1"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    console = probe.Ask("console");
  }
  EXPECT_EQ(console, "console 1");
  EXPECT_EQ(probe.Ask("status Cleaning up...\\n"), "status 15");
  EXPECT_EQ(probe.Ask("error Error: late\\n"), "error 12");
  auto finished = probe.Finish();
  EXPECT_EQ(finished.exitCode, 0);
  EXPECT_EQ(finished.out, "Cleaning up...\n");
  EXPECT_EQ(finished.err, "Error: late\n");
}

}  // namespace
}  // namespace launcher::test

// What needs a real X server: the status window centred then hidden, a box that holds the
// launcher until OK, an Xt error on either thread, a locale that X refuses.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "gui/x_windows.h"
#include "support/installer.h"

namespace launcher::test {
namespace {

class Graphical : public ::testing::Test {
 protected:
  void SetUp() override {
    if (display.empty() || ::access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no X server or xdotool";
  }
  // The probe's replies (one per command) and its run.
  std::pair<std::string, RunResult> Probe(const std::vector<std::string>& commands, const std::string& locale = "C") {
    ScratchDir dir;
    std::vector<std::string> argv = {"/bin/sh", "-c", "f=$1; shift; exec \"$@\" 3>\"$f\"", "sh", dir / "replies", GUI_PROBE};
    argv.insert(argv.end(), commands.begin(), commands.end());
    RunResult run = test::Run({.argv = argv, .env = Env{{"DISPLAY", display}, {"LC_ALL", locale}}});
    return {ReadFile(dir / "replies"), run};
  }
  const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
};

TEST_F(Graphical, StatusWindowIsCentredDuringTheJavaStartThenHidden) {
  Installer in;
  in.UseJava({.launch = "/usr/bin/sleep 14; : > ../../done"});
  Background run(in.Options({}, {{"DISPLAY", display}}));
  std::optional<XWindow> window = AwaitWindow(display);
  ASSERT_TRUE(window) << X(display, {"/usr/bin/xwininfo", "-root", "-tree"}) << in.Finish(run.Wait()).run.out;
  EXPECT_EQ(window->instance, "Status_popup");
  EXPECT_EQ(window->x, (1024 - window->width) / 2);
  EXPECT_EQ(window->y, (768 - window->height) / 2);
  EXPECT_TRUE(AwaitWindow(display, false));
  EXPECT_FALSE(Exists(in.dir + "/done")) << "not hidden while the Java program runs";
  RunResult got = in.Finish(run.Wait()).run;
  EXPECT_EQ(got.exitCode, 0);
  EXPECT_EQ(got.out, "Connecting to X11 server '" + display + "'.\n");
  EXPECT_EQ(got.err, "");
}

bool Running(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

TEST_F(Graphical, ErrorBoxesHoldTheLauncherUntilDismissed) {
  Installer in;
  Background run(in.Options({}, {{"DISPLAY", display}}));
  int boxes = 0;
  std::string dismissed;
  for (int i = 0; i < 300 && Running(run.pid()); ++i) {
    std::vector<XWindow> windows = SetupWindows(display);
    std::erase_if(windows, [](const XWindow& w) { return w.instance != "Error_popup"; });  // the status window
    bool fresh = !windows.empty() && windows[0].id != dismissed;
    std::this_thread::sleep_for(std::chrono::milliseconds(fresh ? 500 : 100));
    if (!fresh) continue;
    EXPECT_TRUE(Running(run.pid())) << "went on with a box up";
    X(display, {"/usr/bin/xdotool", "mousemove", "--window", windows[0].id, "10", "10"});
    X(display, {"/usr/bin/xdotool", "key", "Return"});
    dismissed = windows[0].id;
    ++boxes;
  }
  Outcome got = in.Finish(run.Wait());
  EXPECT_GE(boxes, 1);
  EXPECT_EQ(got.run.exitCode, 1);
  EXPECT_EQ(got.run.err, "") << "every error goes into a box";
}

// Xt does not survive a returning error handler: on the launcher's thread the run ends with
// the reason; on the dispatch thread the run goes on with its output on the terminal.
TEST_F(Graphical, XtErrorOnEitherThreadNeverCrashes) {
  auto [replies, run] = Probe({"load", "xterror"});
  EXPECT_EQ(replies, "load 1\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "X Toolkit Error: XtCreatePopupShell requires non-NULL parent\n");
  std::tie(replies, run) = Probe({"load", "status:Unzipping ", "xterror-dispatch", "status:files...\n",
                                  "await-console", "status:Cleaning up...\n", "error:Error: late\n"});
  EXPECT_EQ(replies, "load 1\n0\nxterror-dispatch\n9\nawait-console 1\n15\n12\n")
      << "unfinished text must wait for its line's end";
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "Cleaning up...\n");
  EXPECT_EQ(run.err, "Error: late\n");
}

TEST_F(Graphical, LocaleThatXRefusesFallsBackToC) {
  auto [replies, run] = Probe({"locale", "load", "locale", "status:shown\n"}, "tg_TJ.KOI8-T");
  if (replies.rfind("locale tg_TJ.KOI8-T", 0) != 0) GTEST_SKIP() << "tg_TJ.KOI8-T is not installed";
  EXPECT_EQ(replies, "locale tg_TJ.KOI8-T en\nload 1\nlocale C en\n6\n");
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace launcher::test

// The status window, watched from outside through a private X server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "gui/x_session.h"

namespace launcher::test {
namespace {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

void ExpectCentred(const XWindow& window) {
  EXPECT_EQ(window.x, (kScreenWidth - window.width) / 2) << window.id;
  EXPECT_EQ(window.y, (kScreenHeight - window.height) / 2) << window.id;
}

using StatusWindowTest = GraphicalTest;

// The probe only answers and then waits on its input: a window that appears at all proves
// that the dispatch thread flushed and processed the toolkit's requests on its own.
TEST_F(StatusWindowTest, ShowsLatestLineCentredAndHidesOnRequest) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("status Checking available disk space...\\n"), "status 33");
  auto window = WaitForWindow(display(), "Setup");
  ASSERT_TRUE(window);
  EXPECT_EQ(window->instance, "Status_popup");
  EXPECT_GE(window->width, 400);
  EXPECT_GE(window->height, 100);
  ExpectCentred(*window);
  EXPECT_EQ(probe.Ask("text"), "text Checking available disk space...");

  EXPECT_EQ(probe.Ask("status Extracting installation files...\\n"), "status 33");
  EXPECT_EQ(probe.Ask("text"), "text Extracting installation files...");

  EXPECT_EQ(probe.Ask("hide"), "hide");
  EXPECT_TRUE(WaitForNoWindow(display(), "Setup"));
  EXPECT_EQ(probe.Ask("text"), "text <none>");
  // A hidden window is gone for good; the next line makes and centres a new one.
  EXPECT_EQ(probe.Ask("status Launching the installer...\\n"), "status 27");
  window = WaitForWindow(display(), "Setup");
  ASSERT_TRUE(window);
  ExpectCentred(*window);

  auto finished = probe.Finish();
  EXPECT_EQ(finished.exitCode, 0);
  EXPECT_EQ(finished.out, "");  // nothing leaked to the terminal
  EXPECT_EQ(finished.err, "");
}

TEST_F(StatusWindowTest, PartialTextShowsNothingUntilItsLineEnds) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("status Unzipping "), "status 0");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(VisibleWindows(display(), "Setup").empty());
  EXPECT_EQ(probe.Ask("status files...\\n"), "status 9");
  EXPECT_TRUE(WaitForWindow(display(), "Setup"));
  EXPECT_EQ(probe.Ask("text"), "text Unzipping files...");
  EXPECT_EQ(probe.Finish().out, "");
}

// Over 1023 bytes needs a second formatting attempt; the window grows and is centred again.
TEST_F(StatusWindowTest, LongMultiLineTextIsShownWholeAndRecentred) {
  std::string text;
  for (int line = 0; line < 20; ++line) {
    text += "line " + std::to_string(line) + " " + std::string(48, 'x');
    if (line < 19) text += "\\n";
  }
  std::string shown = text;  // as the probe receives it
  for (auto at = shown.find("\\n"); at != std::string::npos; at = shown.find("\\n", at)) {
    shown.replace(at, 2, "\n");
  }
  ASSERT_GT(shown.size(), 1023u);
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("status short\\n"), "status 6");
  ASSERT_TRUE(WaitForWindow(display(), "Setup"));
  EXPECT_EQ(probe.Ask("status " + text + "\\n"), "status " + std::to_string(shown.size() + 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  auto window = WaitForWindow(display(), "Setup");
  ASSERT_TRUE(window);
  EXPECT_GT(window->height, 100);
  ExpectCentred(*window);
  EXPECT_EQ(probe.Ask("text"), "text " + text);
}

}  // namespace
}  // namespace launcher::test

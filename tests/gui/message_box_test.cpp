// Modal message boxes: shown, waited for, dismissed the way a user would.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "gui/x_session.h"

namespace launcher::test {
namespace {

using MessageBoxTest = GraphicalTest;

TEST_F(MessageBoxTest, ErrorBoxBlocksCallerUntilDismissed) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  probe.Send("error Error: Cannot find a Java runtime.\\n");
  auto box = WaitForWindow(display(), "Setup");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->instance, "Error_popup");
  EXPECT_EQ(box->x, (1024 - box->width) / 2);
  EXPECT_EQ(box->y, (768 - box->height) / 2);
  // The caller must still be waiting while the box is up.
  EXPECT_FALSE(probe.Reply(1500));
  PressReturnOn(display(), *box);
  EXPECT_EQ(probe.Reply().value_or("<none>"), "error 35");
  EXPECT_TRUE(WaitForNoWindow(display(), "Setup"));
  // The dispatch thread takes over again: the next status line appears at once.
  EXPECT_EQ(probe.Ask("status Cleaning up...\\n"), "status 15");
  EXPECT_TRUE(WaitForWindow(display(), "Setup", 3000));
  auto finished = probe.Finish();
  EXPECT_EQ(finished.out, "");
  EXPECT_EQ(finished.err, "");
}

// A text without a final line feed waits for the next call, which shows both in a box of
// its own kind.
TEST_F(MessageBoxTest, PartialTextWaitsAndJoinsNextBoxOfNextKind) {
  Probe probe(EnvironmentFor(display()));
  ASSERT_EQ(probe.Ask("load"), "load 1 console=0");
  EXPECT_EQ(probe.Ask("error Error: first part, "), "error 19");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(VisibleWindows(display(), "Setup").empty());
  probe.Send("info second part.\\n");
  auto box = WaitForWindow(display(), "Setup");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->instance, "Information_popup");
  PressReturnOn(display(), *box);
  EXPECT_EQ(probe.Reply().value_or("<none>"), "info 13");
  auto finished = probe.Finish();
  EXPECT_EQ(finished.out, "");
  EXPECT_EQ(finished.err, "");
}

}  // namespace
}  // namespace launcher::test

// A private virtual X display for a test, the toolkit probe, and window lookups.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace launcher::test {

// Xvfb on a display number of its own choosing, stopped on destruction.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  bool ok() const { return !name_.empty(); }
  const std::string& name() const { return name_; }  // ":N"

 private:
  int pid_ = -1;
  std::string name_;
};

// Why graphical tests can't run here, or empty when Xvfb and the Motif library are present.
std::string GraphicalSkipReason();

// A window of the X server, as xwininfo reports it.
struct XWindow {
  std::string id;
  std::string instance;  // first WM_CLASS word: the toolkit's widget name and "_popup"
  int width = 0, height = 0, x = 0, y = 0;  // x and y relative to the root window
  bool viewable = false;
};

// Top-level windows titled `title` that are mapped and viewable.
std::vector<XWindow> VisibleWindows(const std::string& display, const std::string& title);
// Polls until such a window exists (or the timeout passes).
std::optional<XWindow> WaitForWindow(const std::string& display, const std::string& title,
                                     int timeoutMs = 10000);
// Polls until no such window is viewable.
bool WaitForNoWindow(const std::string& display, const std::string& title,
                     int timeoutMs = 10000);
// Presses Return with the pointer over the window, as a user dismissing a box would.
void PressReturnOn(const std::string& display, const XWindow& window);

// A test that needs its own X server; skipped where the graphical tools are missing.
class GraphicalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason = GraphicalSkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    server_ = std::make_unique<XServer>();
    if (!server_->ok()) GTEST_SKIP() << "Xvfb did not start";
  }
  const std::string& display() const { return server_->name(); }

 private:
  std::unique_ptr<XServer> server_;
};

// The toolkit probe in a child process: commands on its stdin, replies on its fd 3.
class Probe {
 public:
  // `prefix` runs before the probe (e.g. {"unshare", "-m", "sh", "-c", "..."}), may be empty.
  Probe(const std::map<std::string, std::string>& env, const std::vector<std::string>& prefix = {});
  ~Probe();
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  void Send(const std::string& command);
  // The next reply line, or nothing when none arrives within the timeout.
  std::optional<std::string> Reply(int timeoutMs = 15000);
  // Sends a command and returns its reply.
  std::string Ask(const std::string& command) {
    Send(command);
    return Reply().value_or("<no reply>");
  }
  // Ends the probe (quit, then collects it); its standard output and error.
  struct Finished {
    int exitCode = -1;
    std::string out, err;
  };
  Finished Finish();

 private:
  int pid_ = -1;
  int in_ = -1;
  int replies_ = -1;
  int outFile_ = -1;
  int errFile_ = -1;
  std::string buffered_;
};

// The test's environment with DISPLAY set (or removed when display is empty) and a locale.
std::map<std::string, std::string> EnvironmentFor(const std::string& display,
                                                  const std::string& locale = "C");

}  // namespace launcher::test

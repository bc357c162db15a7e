// A private X server for a test, and its windows as xwininfo reports them.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

#include "support/process.h"

namespace launcher::test {

// Xvfb on a display number of the test's own, far above the usual ones and tried until one is
// free: servers of other builds, or in other mount namespaces (which share the abstract socket
// names), may hold the low numbers that -displayfd alone would pick.
class XServer {
 public:
  XServer() {
    for (int number = 2000 + ::getpid() % 7000, tries = 0; tries < 10 && name_.empty(); ++number, ++tries) {
      int fds[2];
      if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe(fds) != 0) return;
      if ((pid_ = ::fork()) == 0) {
        ::dup2(fds[1], 5);
        std::string display = ":" + std::to_string(number);
        ::execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-displayfd", "5", "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr);
        ::_exit(127);
      }
      ::close(fds[1]);
      char ready[16] = {};
      pollfd readable{fds[0], POLLIN, 0};
      if (::poll(&readable, 1, 20000) == 1 && ::read(fds[0], ready, sizeof ready - 1) > 0) name_ = ":" + std::to_string(number);
      else if (::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
      ::close(fds[0]);
    }
  }
  ~XServer() { if (!name_.empty() && ::kill(pid_, SIGTERM) == 0) ::waitpid(pid_, nullptr, 0); }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

struct XWindow {
  std::string id, instance;
  int x = 0, y = 0, width = 0, height = 0;
};

inline std::string X(const std::string& display, std::vector<std::string> argv) {
  return Run({.argv = std::move(argv), .env = Env{{"DISPLAY", display}}, .timeoutSeconds = 20}).out;
}

// The viewable top-level windows titled "Setup".
inline std::vector<XWindow> SetupWindows(const std::string& display) {
  std::vector<XWindow> found;
  std::istringstream tree(X(display, {"/usr/bin/xwininfo", "-root", "-tree"}));
  for (std::string line, id, title; std::getline(tree, line);) {
    std::istringstream(line) >> id >> title;
    std::string info = title == "\"Setup\":" ? X(display, {"/usr/bin/xwininfo", "-id", id}) : "";
    if (info.find("IsViewable") == std::string::npos) continue;
    auto field = [&](const char* label) { return std::atoi(info.c_str() + info.find(label) + std::strlen(label)); };
    size_t open = line.find("(\"") + 2;
    found.push_back({id, line.substr(open, line.find('"', open) - open), field("Absolute upper-left X:"),
                     field("Absolute upper-left Y:"), field("Width:"), field("Height:")});
  }
  return found;
}

// Polls for a minute until a Setup window is there (or, with present false, none is).
inline std::optional<XWindow> AwaitWindow(const std::string& display, bool present = true) {
  for (int i = 0; i < 300; ++i) {
    std::vector<XWindow> windows = SetupWindows(display);
    if (windows.empty() != present) return present ? windows[0] : XWindow{};
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return std::nullopt;
}

}  // namespace launcher::test

// The windows of the test's X server (xvfb-run gives each graphical case its own) as xwininfo
// reports them.
#pragma once

#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

#include "support/process.h"

namespace launcher::test {

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

#include "gui/x_session.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/process.h"

extern char** environ;

namespace launcher::test {
namespace {

using Clock = std::chrono::steady_clock;

// Places `from` on descriptor `to` in a forked child, keeping it open across exec.
void MoveTo(int from, int to) {
  if (from == to) {
    ::fcntl(to, F_SETFD, 0);
  } else {
    ::dup2(from, to);
  }
}

int WaitWithTimeout(int pid, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      deadline = Clock::now() + std::chrono::hours(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

RunResult X(const std::string& display, std::vector<std::string> argv) {
  RunOptions options;
  options.argv = std::move(argv);
  options.env = EnvironmentFor(display);
  options.timeoutSeconds = 20;
  return Run(options);
}

bool Executable(const char* path) { return ::access(path, X_OK) == 0; }

}  // namespace

XServer::XServer() {
  if (!Executable("/usr/bin/Xvfb")) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    MoveTo(fds[1], 5);
    // -displayfd lets the server pick a free display number, so parallel tests never clash.
    ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "5", "-screen", "0", "1024x768x24",
            "-nolisten", "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  pollfd readable{fds[0], POLLIN, 0};
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
    if (::poll(&readable, 1, 100) <= 0) continue;
    char buffer[16];
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
}

XServer::~XServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  WaitWithTimeout(pid_, 5000);
}

std::string GraphicalSkipReason() {
  if (!Executable("/usr/bin/Xvfb")) return "Xvfb is not installed";
  if (!Executable("/usr/bin/xwininfo") || !Executable("/usr/bin/xdotool")) {
    return "xwininfo or xdotool is not installed";
  }
  // Probed in a child, so the test process itself never loads the toolkit.
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(::dlopen("libXm.so.4", RTLD_NOW) != nullptr ? 0 : 1);
  if (WaitWithTimeout(pid, 20000) != 0) return "the Motif library libXm.so.4 is not installed";
  return "";
}

std::vector<XWindow> VisibleWindows(const std::string& display, const std::string& title) {
  std::vector<XWindow> found;
  std::istringstream tree(X(display, {"/usr/bin/xwininfo", "-root", "-tree"}).out);
  const std::string quoted = "\"" + title + "\":";
  for (std::string line; std::getline(tree, line);) {
    std::istringstream words(line);
    std::string id, name;
    words >> id >> name;
    if (id.rfind("0x", 0) != 0 || name != quoted) continue;
    XWindow window;
    window.id = id;
    auto open = line.find("(\"");
    if (open != std::string::npos) {
      window.instance = line.substr(open + 2, line.find('"', open + 2) - open - 2);
    }
    std::istringstream info(X(display, {"/usr/bin/xwininfo", "-id", id}).out);
    for (std::string field; std::getline(info, field);) {
      auto value = [&](const char* label) {
        return std::atoi(field.substr(field.find(label) + std::strlen(label)).c_str());
      };
      if (field.find("Absolute upper-left X:") != std::string::npos) {
        window.x = value("Absolute upper-left X:");
      } else if (field.find("Absolute upper-left Y:") != std::string::npos) {
        window.y = value("Absolute upper-left Y:");
      } else if (field.find("Width:") != std::string::npos) {
        window.width = value("Width:");
      } else if (field.find("Height:") != std::string::npos) {
        window.height = value("Height:");
      } else if (field.find("Map State: IsViewable") != std::string::npos) {
        window.viewable = true;
      }
    }
    if (window.viewable) found.push_back(window);
  }
  return found;
}

std::optional<XWindow> WaitForWindow(const std::string& display, const std::string& title,
                                     int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    auto windows = VisibleWindows(display, title);
    if (!windows.empty()) return windows.front();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() < deadline);
  return std::nullopt;
}

bool WaitForNoWindow(const std::string& display, const std::string& title, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    if (VisibleWindows(display, title).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() < deadline);
  return false;
}

void PressReturnOn(const std::string& display, const XWindow& window) {
  X(display, {"/usr/bin/xdotool", "mousemove", "--window", window.id, "10", "10"});
  X(display, {"/usr/bin/xdotool", "key", "Return"});
}

std::map<std::string, std::string> EnvironmentFor(const std::string& display,
                                                  const std::string& locale) {
  auto env = CurrentEnvironment();
  for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_CTYPE", "LC_MESSAGES"}) {
    env.erase(name);
  }
  env["LC_ALL"] = locale;
  if (display.empty()) {
    env.erase("DISPLAY");
  } else {
    env["DISPLAY"] = display;
  }
  return env;
}

Probe::Probe(const std::map<std::string, std::string>& env,
             const std::vector<std::string>& prefix) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  outFile_ = AnonymousFile();
  errFile_ = AnonymousFile();
  std::vector<std::string> args = prefix;
  args.push_back(GUI_PROBE);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    // Out of the way of descriptors 0 to 3 before they are assigned.
    int in = ::fcntl(input[0], F_DUPFD_CLOEXEC, 10);
    int reply = ::fcntl(output[1], F_DUPFD_CLOEXEC, 10);
    MoveTo(in, 0);
    MoveTo(outFile_, 1);
    MoveTo(errFile_, 2);
    MoveTo(reply, 3);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(input[0]);
  ::close(output[1]);
  in_ = input[1];
  replies_ = output[0];
}

Probe::~Probe() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    WaitWithTimeout(pid_, 5000);
  }
  for (int fd : {in_, replies_, outFile_, errFile_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Probe::Send(const std::string& command) {
  std::string line = command + "\n";
  if (::write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    throw std::runtime_error("probe input closed");
  }
}

std::optional<std::string> Probe::Reply(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd readable{replies_, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    ssize_t n = ::read(replies_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    buffered_.append(buffer, static_cast<size_t>(n));
  }
}

Probe::Finished Probe::Finish() {
  Finished finished;
  Send("quit");
  ::close(in_);
  in_ = -1;
  finished.exitCode = WaitWithTimeout(pid_, 20000);
  pid_ = -1;
  finished.out = Slurp(outFile_);
  finished.err = Slurp(errFile_);
  return finished;
}

}  // namespace launcher::test

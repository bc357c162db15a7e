#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace launcher::test {

int AnonymousFile() {
  char name[] = "/tmp/launcher-test-out.XXXXXX";
  int fd = ::mkostemp(name, O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("mkostemp failed");
  ::unlink(name);
  return fd;
}

std::string Slurp(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

namespace {

int Spawn(const RunOptions& options, int outFd, int errFd) {
  if (options.argv.empty()) throw std::runtime_error("empty argv");
  std::vector<std::string> args = options.argv;
  if (options.argv0) args[0] = *options.argv0;
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  if (options.env) {
    for (auto& [key, value] : *options.env) envStrings.push_back(key + "=" + value);
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
  }
  int inFd = AnonymousFile();
  if (!options.stdinText.empty()) {
    if (::write(inFd, options.stdinText.data(), options.stdinText.size()) < 0) {
      throw std::runtime_error("write stdin failed");
    }
    ::lseek(inFd, 0, SEEK_SET);
  }
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    const char* program = options.argv[0].c_str();
    ::execve(program, argv.data(), options.env ? envp.data() : environ);
    ::_exit(127);
  }
  ::close(inFd);
  return pid;
}

RunResult Collect(int pid, int outFd, int errFd, int timeoutSeconds) {
  RunResult result;
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= timeoutSeconds && !result.timedOut) {
      result.timedOut = true;
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
    }
    ::usleep(5000);
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = Slurp(outFd);
  result.err = Slurp(errFd);
  ::close(outFd);
  ::close(errFd);
  return result;
}

}  // namespace

RunResult Run(const RunOptions& options) {
  int outFd = AnonymousFile();
  int errFd = AnonymousFile();
  int pid = Spawn(options, outFd, errFd);
  return Collect(pid, outFd, errFd, options.timeoutSeconds);
}

Background::Background(const RunOptions& options) : timeoutSeconds_(options.timeoutSeconds) {
  outFd_ = AnonymousFile();
  errFd_ = AnonymousFile();
  pid_ = Spawn(options, outFd_, errFd_);
}

Background::~Background() {
  if (!done_) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
}

void Background::Signal(int sig) { ::kill(pid_, sig); }

RunResult Background::Wait() {
  done_ = true;
  return Collect(pid_, outFd_, errFd_, timeoutSeconds_);
}

std::map<std::string, std::string> CurrentEnvironment() {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq) env[std::string(const_cast<const char*>(*entry), eq)] = eq + 1;
  }
  return env;
}

}  // namespace launcher::test

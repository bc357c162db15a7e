#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace launcher::test {
namespace {

// An unlinked file, not a pipe: a chatty child never blocks on it.
int AnonymousFile() {
  char name[] = "/tmp/launcher-test-out.XXXXXX";
  int fd = ::mkostemp(name, O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("mkostemp failed");
  ::unlink(name);
  return fd;
}

std::string Slurp(int fd) {
  std::string text(static_cast<size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  if (::pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) text = "(unreadable)";
  ::close(fd);
  return text;
}

}  // namespace

Background::Background(const RunOptions& options) : timeoutSeconds_(options.timeoutSeconds) {
  std::vector<std::string> args = options.argv, envStrings;
  args[0] = options.argv0.value_or(args[0]);
  for (auto& [key, value] : options.env.value_or(Env{})) envStrings.push_back(key + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  for (auto& entry : envStrings) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  outFd_ = AnonymousFile();
  errFd_ = AnonymousFile();
  std::fflush(nullptr);
  if ((pid_ = ::fork()) < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(outFd_, 1);
    ::dup2(errFd_, 2);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    ::execve(options.argv[0].c_str(), argv.data(), options.env ? envp.data() : environ);
    ::_exit(127);
  }
  ::setpgid(pid_, pid_);  // also here, so a signal to the group can follow at once
}

Background::~Background() {
  if (!done_) ::kill(-pid_, SIGKILL), Wait();
}

RunResult Background::Wait() {
  done_ = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  int status = 0;
  for (pid_t done; (done = ::waitpid(pid_, &status, WNOHANG)) != pid_ && (done >= 0 || errno == EINTR);) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(-pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0, Slurp(outFd_),
          Slurp(errFd_)};
}

}  // namespace launcher::test

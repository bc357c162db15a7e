#include "support/child.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace launcher::test {

std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return "(no pipe)";
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    std::string report = body();
    std::fflush(nullptr);
    ::_exit(::write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 3);
  }
  ::close(fds[1]);
  std::string report = ReadFile("/dev/fd/" + std::to_string(fds[0]));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return report;
}

}  // namespace launcher::test

// Runs a piece of a test in a forked child, so that per-process state (the locale, the
// console flag, stdio buffers) starts fresh and cannot leak between cases.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "host/locale.h"

namespace launcher::test {

// Runs body in a child whose locale comes from LC_ALL=locale (recomputed there; null keeps
// the inherited environment) and returns the report that body produced.
inline std::string InChild(const char* locale, const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  // Buffered test output would otherwise be written twice, once by each process.
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return {};
  }
  if (pid == 0) {
    ::close(fds[0]);
    if (locale != nullptr) {
      ::setenv("LC_ALL", locale, 1);
      ResetLocale();
    }
    std::string report = body();
    const char* p = report.data();
    std::size_t left = report.size();
    while (left > 0) {
      ssize_t n = ::write(fds[1], p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ::_exit(3);
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return report;
}

}  // namespace launcher::test

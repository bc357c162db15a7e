// Pieces of a test run in forked children: cached and process-wide state (locale tag,
// executable path, temporary directory, application home, runtime paths, environment,
// stdio buffers) starts fresh there and cannot leak between cases; several children can
// run at once.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "host/process.h"

namespace launcher::test {

class Child {
 public:
  // Starts body in a child; what it returns is the child's report.
  explicit Child(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      std::string report = body();
      std::fflush(nullptr);
      ::_exit(WriteAll(fds[1], report.data(), report.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    readFd_ = fds[0];
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Finish(); }

  // The child's report, once it has ended; a child that did not end with 0 fails the test.
  std::string Finish() {
    if (readFd_ >= 0) {
      char buffer[4096];
      for (;;) {
        ssize_t n = ::read(readFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        report_.append(buffer, static_cast<std::size_t>(n));
      }
      ::close(readFd_);
      readFd_ = -1;
    }
    if (pid_ > 0) {
      int status = 0;
      WaitForChild(pid_, &status);
      EXPECT_EQ(0, ExitCodeOf(status)) << "child status " << status;
      pid_ = -1;
    }
    return report_;
  }

 private:
  pid_t pid_ = -1;
  int readFd_ = -1;
  std::string report_;
};

// Runs body in a child and returns its report.
inline std::string InChild(const std::function<std::string()>& body) {
  return Child(body).Finish();
}

// The text for a possibly null C string, so results can cross the pipe.
inline std::string Show(const char* s) { return s ? s : "(null)"; }

}  // namespace launcher::test

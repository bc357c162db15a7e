// Runs test code in a forked child: the host state under test (locale tag, executable
// path, temporary directory, current directory) is cached or process-wide, so each case
// starts from a fresh copy of a process that never touched it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

namespace launcher::test {

// What body returned, or "child failed ..." when the child did not exit normally.
inline std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return "child failed: pipe";
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid < 0) return "child failed: fork";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result = body();
    for (std::size_t done = 0; done < result.size();) {
      ssize_t n = ::write(fds[1], result.data() + done, result.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ::_exit(2);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[512];
  for (;;) {
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "child failed: status " + std::to_string(status) + " after \"" + result + "\"";
  }
  return result;
}

// The text for a possibly null C string, so results can cross the pipe.
inline std::string Show(const char* s) { return s ? s : "(null)"; }

}  // namespace launcher::test

#include "host/process.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace launcher {

void FlushAllStreams() { std::fflush(nullptr); }

pid_t WaitForChild(pid_t pid, int* status) {
  for (;;) {
    pid_t done = ::waitpid(pid, status, 0);
    if (done >= 0 || errno != EINTR) return done;
  }
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return 1;
}

void SleepFully(unsigned seconds) {
  timespec remaining{static_cast<time_t>(seconds), 0};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace launcher

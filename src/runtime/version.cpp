#include "runtime/version.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/locale.h"
#include "host/process.h"
#include "host/unique_fd.h"

namespace launcher {
namespace {

// Supported version prefixes, compared in this order.
constexpr const char* supported_vm_versions[] = {
    "1.4.1", "1.4.2", "1.4.3", "1.4.4", "1.4.5", "1.4.6", "1.4.7",
    "1.4.8", "1.4.9", "1.5",   "1.6",   "1.7",   "1.8",   "1.9",
};

// Only the start of the report is parsed; the rest is drained and dropped.
constexpr std::size_t kProbeLimit = 512;

// What the probe wrote to its error stream, up to kProbeLimit bytes.
struct ProbeOutput {
  char text[kProbeLimit + 1] = {};
  std::size_t length = 0;
};

// Reads what is available; false once the pipe reaches end of file or fails.
bool DrainOnce(int fd, ProbeOutput* output) {
  char scratch[4096];
  for (;;) {
    ssize_t n = ::read(fd, scratch, sizeof scratch);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN;
    if (n == 0) return false;
    std::size_t room = kProbeLimit - output->length;
    std::size_t keep = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
    std::memcpy(output->text + output->length, scratch, keep);
    output->length += keep;
  }
}

// A descriptor that becomes readable when the child ends, where the kernel offers one.
UniqueFd OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
  (void)pid;
  return UniqueFd();
#endif
}

// Keeps the pipe drained until the child ends, so a probe that writes more than the pipe
// holds can never block while the launcher waits for it. A grandchild that keeps the
// pipe open does not hold the launcher up: only the child's end is waited for.
void DrainUntilExit(pid_t pid, int readFd, ProbeOutput* output) {
  UniqueFd pidFd = OpenPidFd(pid);
  bool pipeOpen = true;
  for (;;) {
    pollfd fds[2];
    nfds_t count = 0;
    if (pipeOpen) fds[count++] = {readFd, POLLIN, 0};
    int pidIndex = -1;
    if (pidFd.valid()) {
      pidIndex = static_cast<int>(count);
      fds[count++] = {pidFd.get(), POLLIN, 0};
    }
    // Without a pid descriptor, look at the child between short polls (with nothing to
    // watch, poll just sleeps).
    int ready = ::poll(fds, count, pidFd.valid() ? -1 : 20);
    if (ready < 0 && errno != EINTR) return;
    if (pipeOpen && ready > 0 && fds[0].revents != 0) pipeOpen = DrainOnce(readFd, output);
    if (pidIndex >= 0) {
      if (ready > 0 && fds[pidIndex].revents != 0) break;
    } else {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) return;
      } else if (info.si_pid == pid) {
        break;
      }
    }
  }
  if (pipeOpen) DrainOnce(readFd, output);
}

// The text between the last two double quotes of the first line, or the whole first
// line when it holds no quote.
std::string ParseVersion(char* text) {
  if (char* newline = _strchr(text, '\n')) *newline = '\0';
  if (char* quote = _strrchr(text, '"')) *quote = '\0';
  if (char* quote = _strrchr(text, '"')) return quote + 1;
  return text;
}

}  // namespace

int CheckVersion(const char* version) {
  for (const char* prefix : supported_vm_versions) {
    if (std::strncmp(version, prefix, std::strlen(prefix)) == 0) return 1;
  }
  return 0;
}

std::optional<std::string> CheckJREVersion(const char* home) {
  struct stat st;
  if (::stat(home, &st) != 0) return std::nullopt;

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  // Only the parent's end is non-blocking: the probe's stderr must stay a normal stream.
  ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

  // Everything the child uses is ready before the fork: the toolkit thread may hold locks.
  std::string program = std::string(home) + "/bin/java";
  char versionOption[] = "-version";
  char* argv[] = {program.data(), versionOption, nullptr};
  char* envp[] = {nullptr};

  SpawnOptions spawn;
  spawn.stderrFd = writeEnd.get();
  spawn.closeInputOutput = true;
  pid_t pid = SpawnProgram(argv, envp, spawn);
  if (pid < 0) return std::nullopt;

  // With the parent's write end closed, end of file means every writer has gone.
  writeEnd.reset();
  ProbeOutput output;
  DrainUntilExit(pid, readEnd.get(), &output);
  int status = 0;
  if (WaitForChild(pid, &status) != pid || !WIFEXITED(status)) return std::nullopt;
  if (output.length == 0) return std::nullopt;
  output.text[output.length] = '\0';
  std::string version = ParseVersion(output.text);
  if (!CheckVersion(version.c_str())) return std::nullopt;
  return version;
}

int CheckJavaVersion(const char* home) { return CheckJREVersion(home) ? 1 : 0; }

}  // namespace launcher

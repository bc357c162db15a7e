#include "host/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

namespace launcher {

void FlushAllStreams() { std::fflush(nullptr); }

pid_t SpawnProgram(char* const* argv, char* const* envp, const SpawnOptions& options) {
  FlushAllStreams();
  SignalMask guard(Held::kAll);
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  guard.InChild();
  if (int fd = options.stderrFd; fd == STDERR_FILENO) {
    ::fcntl(fd, F_SETFD, 0);
  } else if (fd >= 0 && ::dup2(fd, STDERR_FILENO) < 0) {
    ::_exit(options.failureStatus);
  }
  if (options.closeInputOutput) {
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
  }
  ::execve(argv[0], argv, envp);
  const char* text = options.failureText;
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  WriteAll(STDERR_FILENO, text, length);
  ::_exit(options.failureStatus);
}

SignalMask::SignalMask(Held held) {
  sigset_t blocked;
  sigfillset(&blocked);
  if (held == Held::kAllButFaults) {
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) {
      sigdelset(&blocked, fault);
    }
  }
  pthread_sigmask(SIG_BLOCK, &blocked, &saved_);
}

SignalMask::~SignalMask() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

void SignalMask::InChild() const {
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction current;
    if (::sigaction(sig, nullptr, &current) != 0) continue;
    bool caught = (current.sa_flags & SA_SIGINFO) != 0 ||
                  (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (!caught) continue;  // ignored ones stay ignored, as across exec
    struct sigaction reset = {};
    reset.sa_handler = SIG_DFL;
    sigemptyset(&reset.sa_mask);
    ::sigaction(sig, &reset, nullptr);
  }
  // The child has one thread; sigprocmask, unlike pthread_sigmask, is async-signal-safe.
  ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: fd itself, since those below it are open by now. Not
    // close-on-exec: the Java process inherits it as its standard descriptor.
    int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

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
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      return 0;  // a write that takes nothing would be retried for ever
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

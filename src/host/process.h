// Small helpers for processes and threads: forking, signal masks, waiting, writing, sleeping.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>

namespace launcher {

// Flushes every stdio output stream, so nothing buffered is written twice after a fork.
void FlushAllStreams();

// Which signals a SignalMask holds back.
enum class Held {
  // Every signal. Around a fork, from before it until the parent has gone past it: a child
  // must never run the launcher's handlers (its clean-up line, a removal) before its exec,
  // which a terminal's interrupt to the whole group otherwise makes it do. Around steps
  // that a handler must not come between.
  kAll,
  // Every signal but those that a fault raises in the faulting thread (blocked, a fault
  // would end the process without the crash handler's clean-up). A helper thread started
  // meanwhile inherits the mask, so a signal meant for the process (an interruption, whose
  // handler removes the working directory and exits) stops the main thread instead of
  // running beside it.
  kAllButFaults,
};

// Holds signals back in this thread for as long as it lives.
class SignalMask {
 public:
  explicit SignalMask(Held held);
  ~SignalMask();
  SignalMask(const SignalMask&) = delete;
  SignalMask& operator=(const SignalMask&) = delete;
  // In a forked child: caught signals back to their default action, then the old mask, so
  // a signal held meanwhile ends the child as it would the program. Async-signal-safe.
  void InChild() const;

 private:
  sigset_t saved_;
};

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later takes one of their numbers and receives the text meant for the terminal.
void OpenStandardDescriptors();

// How SpawnProgram sets up the child before its exec.
struct SpawnOptions {
  int stderrFd = -1;              // made the child's standard error when >= 0
  bool closeInputOutput = false;  // the child runs without standard input and output
  const char* failureText = "";   // written to standard error when the exec fails
  int failureStatus = 127;        // the child's exit status when the exec fails
};

// The launcher's one way to start a program: flushes every stream, holds signals across
// the fork, and runs execve(argv[0], argv, envp) in the child, which makes only
// async-signal-safe calls before it (another thread may hold the allocator's locks). Build
// argv, envp and the failure text before the call. The child's pid, or -1 when fork fails.
pid_t SpawnProgram(char* const* argv, char* const* envp, const SpawnOptions& options);

// waitpid(pid, status, 0), retried on EINTR; the pid, or -1 when the wait fails.
pid_t WaitForChild(pid_t pid, int* status);

// The exit code (0 to 255) of a child that ended normally, or -1 after a signal.
int ExitCodeOf(int status);

// Writes all of data, retrying EINTR and short writes; 1 or 0. Async-signal-safe.
int WriteAll(int fd, const void* data, std::size_t size);

// Sleeps the whole duration: a signal that cuts the sleep short starts it again for the
// time that remained.
void SleepFully(unsigned seconds);

}  // namespace launcher

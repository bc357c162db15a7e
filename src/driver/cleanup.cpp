#include "driver/cleanup.h"

#include <limits.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/process.h"
#include "host/tempdir.h"
#include "messages/catalog.h"
#include "messages/convert.h"
#include "messages/output.h"
#include "messages/profile.h"

namespace launcher {
namespace {

// The clean-up line, rendered beforehand: a handler may interrupt malloc or stdio and so
// can neither fetch a message nor format one. Two buffers let a refresh write the idle
// one and then switch, so a handler never reads a half-written line.
struct CleanupLine {
  char text[512];
  std::size_t length;
};
CleanupLine cleanupLines[2];
std::atomic<const CleanupLine*> cleanupLine{nullptr};

// The working directory's path in a fixed buffer: a created directory's path is shorter
// than PATH_MAX, since mkdir accepted it.
char workdirBuffer[PATH_MAX];
std::atomic<const char*> workdir{nullptr};

// The clean-up runs once: in the normal flow or in a handler, whichever claims it first.
enum CleanupState : int { kNotStarted, kRunning, kDone };
std::atomic<int> cleanupState{kNotStarted};

bool doCleanup = false;

bool ClaimCleanup() {
  int expected = kNotStarted;
  return cleanupState.compare_exchange_strong(expected, kRunning);
}

// A signal may land on the toolkit's dispatch thread while the main thread is still
// writing into the working directory; removing the tree then would leave what the main
// thread writes next. The main thread gets the signal instead, and this thread waits for
// the end of the process.
void RunOnMainThread(int signal) {
  pid_t process = ::getpid();
  if (::syscall(SYS_gettid) == process) return;
  ::syscall(SYS_tgkill, process, process, signal);
  for (;;) ::pause();
}

// The handlers' clean-up: only write(2), raw system calls, the descriptor-relative removal
// and atomics.
void CleanUpInHandler(int signal) {
  RunOnMainThread(signal);
  // Not claimed: the normal clean-up, which blocks signals on this thread, has finished.
  if (!ClaimCleanup()) return;
  if (const CleanupLine* line = cleanupLine.load()) {
    WriteAll(STDOUT_FILENO, line->text, line->length);
  }
  DeleteWorkingDirectory();
  cleanupState.store(kDone);
}

struct Disposition {
  int signal;
  void (*handler)(int);
};

void ExitHandler(int signal) { HandleSignalAndExit(signal); }
void AbortHandler(int signal) { HandleSignalAndAbort(signal); }

// In the order they are installed. Every signal whose default action ends the process is
// caught, so none of them leaves the working directory and the lock file behind; a reader
// that goes away (SIGPIPE) is an interruption, not a fault worth a core file.
const Disposition dispositions[] = {
    {SIGHUP, SIG_IGN},        {SIGPWR, SIG_IGN},       {SIGWINCH, SIG_IGN},
    {SIGALRM, ExitHandler},   {SIGINT, ExitHandler},   {SIGPOLL, ExitHandler},
    {SIGTERM, ExitHandler},   {SIGVTALRM, ExitHandler}, {SIGPIPE, ExitHandler},
    {SIGUSR1, ExitHandler},   {SIGUSR2, ExitHandler},  {SIGPROF, ExitHandler},
    {SIGSTKFLT, ExitHandler}, {SIGABRT, AbortHandler}, {SIGBUS, AbortHandler},
    {SIGFPE, AbortHandler},   {SIGILL, AbortHandler},  {SIGQUIT, AbortHandler},
    {SIGSEGV, AbortHandler},  {SIGXCPU, AbortHandler}, {SIGXFSZ, AbortHandler},
    {SIGSYS, AbortHandler},   {SIGTRAP, AbortHandler},
};

}  // namespace

void PrepareCleanupLine() {
  std::string text = ForTerminal(GetLocalizedMessage("performing_cleanup"));
  const CleanupLine* current = cleanupLine.load();
  CleanupLine* next = current == &cleanupLines[0] ? &cleanupLines[1] : &cleanupLines[0];
  // The text is printed as is: the line has no conversions.
  next->length = std::min(text.size(), sizeof next->text);
  std::memcpy(next->text, text.data(), next->length);
  cleanupLine.store(next);
}

bool SetWorkingDirectory(const char* path) {
  std::size_t length = std::strlen(path);
  if (length >= sizeof workdirBuffer || workdir.load() != nullptr) return false;
  std::memcpy(workdirBuffer, path, length + 1);
  workdir.store(workdirBuffer);
  return true;
}

const char* GetWorkingDirectory() { return workdir.load(); }

void SetDoCleanup(bool value) { doCleanup = value; }

void PrepareToExit() {
  // Handlers run on this thread only; blocked here, a signal waits until the clean-up is
  // done and its handler then only ends the run.
  SignalMask block(Held::kAll);
  if (!ClaimCleanup()) return;  // done already
  StatusMessage("performing_cleanup");
  if (doCleanup) Cleanup();
  DeleteWorkingDirectory();
  cleanupState.store(kDone);
}

void DeleteWorkingDirectory() {
  if (const char* dir = workdir.exchange(nullptr)) DeleteFilesAndDirectories(dir, nullptr);
}

void HandleSignalAndExit(int signal) {
  CleanUpInHandler(signal);
  ::_exit(255);
}

void HandleSignalAndAbort(int signal) {
  struct sigaction fallback = {};
  sigemptyset(&fallback.sa_mask);
  fallback.sa_handler = SIG_DFL;
  CleanUpInHandler(signal);
  // Otherwise abort's SIGABRT would enter this handler again.
  ::sigaction(SIGABRT, &fallback, nullptr);
  std::abort();
}

void InstallSignalDispositions() {
  for (const Disposition& entry : dispositions) {
    struct sigaction action = {};
    sigfillset(&action.sa_mask);
    action.sa_handler = entry.handler;
    action.sa_flags = 0;
    ::sigaction(entry.signal, &action, nullptr);
  }
}

}  // namespace launcher

// Running child programs from tests and capturing what they print.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace launcher::test {

struct RunOptions {
  std::vector<std::string> argv;      // argv[0] is the program path, run without PATH search
  std::optional<std::string> argv0;   // what the child sees as argv[0], when not argv[0]
  // Environment: when set, exactly these variables; otherwise the test's own environment.
  std::optional<std::map<std::string, std::string>> env;
  std::string cwd;                    // empty: inherit
  std::string stdinText;              // fed to standard input, then closed
  int timeoutSeconds = 60;            // the child is killed (SIGKILL) after this
};

struct RunResult {
  int exitCode = -1;     // exit status when it exited normally, else -1
  int signal = 0;        // terminating signal, else 0
  bool timedOut = false;
  std::string out;
  std::string err;
};

RunResult Run(const RunOptions& options);

// A process started in the background; Wait() collects it like Run().
class Background {
 public:
  explicit Background(const RunOptions& options);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  int pid() const { return pid_; }
  void Signal(int sig);
  RunResult Wait();

 private:
  int pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int timeoutSeconds_ = 60;
  bool done_ = false;
};

// An unlinked temporary file (close-on-exec) for a child's output: a chatty child can never
// block on it as on a pipe.
int AnonymousFile();

// Everything in the file behind fd, read from its start.
std::string Slurp(int fd);

// The environment of this test process as a map.
std::map<std::string, std::string> CurrentEnvironment();

}  // namespace launcher::test

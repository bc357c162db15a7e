// Child programs run from tests, with what they print captured.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace launcher::test {

using Env = std::map<std::string, std::string>;

struct RunOptions {
  std::vector<std::string> argv;     // argv[0] is the program path, run without PATH search
  std::optional<std::string> argv0{};  // what the child sees as argv[0], when not argv[0]
  std::optional<Env> env{};          // exactly these variables; else the test's own
  std::string cwd{};                 // empty: inherit
  int timeoutSeconds = 90;           // then the child's group is killed
};

struct RunResult {
  int exitCode = -1;  // when it exited normally, else -1
  int signal = 0;     // terminating signal, else 0
  std::string out, err;
};

// A child in a process group of its own; Wait() collects it.
class Background {
 public:
  explicit Background(const RunOptions& options);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  int pid() const { return pid_; }
  RunResult Wait();

 private:
  int pid_ = -1, outFd_ = -1, errFd_ = -1, timeoutSeconds_;
  bool done_ = false;
};

inline RunResult Run(const RunOptions& options) { return Background(options).Wait(); }

}  // namespace launcher::test

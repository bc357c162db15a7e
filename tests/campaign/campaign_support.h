// Counts, seeds and reports of the reliability campaign, and the worlds its runs use.
#pragma once

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace launcher::campaign {

using namespace launcher::e2e;

// A size from the environment (scripts/campaign sets them), else the given default.
inline int CampaignCount(const char* variable, int fallback) {
  const char* text = std::getenv(variable);
  if (!text || !*text) return fallback;
  int value = std::atoi(text);
  return value > 0 ? value : fallback;
}

// The campaign's seed: LAUNCHER_CAMPAIGN_SEED, or a fixed one so that CI runs repeat.
inline uint64_t CampaignSeed() {
  const char* text = std::getenv("LAUNCHER_CAMPAIGN_SEED");
  return text && *text ? std::strtoull(text, nullptr, 0) : 20240611;
}

// A generator for one test: the campaign seed mixed with the test's own name, so each test
// repeats on its own whatever else runs.
inline std::mt19937_64 Generator(const std::string& testName) {
  uint64_t seed = CampaignSeed();
  for (unsigned char c : testName) seed = seed * 1099511628211ULL ^ c;
  return std::mt19937_64(seed);
}

// One line of figures, found by scripts/campaign in the test output.
template <typename... Args>
void Report(const char* format, Args... args) {
  std::string line = "[campaign] " + std::string(format) + "\n";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::printf(line.c_str(), args...);
#pragma GCC diagnostic pop
  std::fflush(stdout);
}

// Shell lines run at the start of a fake runtime's "-version" answer.
inline void AddProbeStep(const std::string& runtimeHome, const std::string& lines) {
  std::string java = runtimeHome + "/bin/java";
  std::string script = ReadFile(java);
  std::string probe = "= -version ]; then\n";
  size_t at = script.find(probe);
  ASSERT_NE(at, std::string::npos);
  script.insert(at + probe.size(), lines + "\n");
  WriteFile(java, script, 0755);
}

// A display number with no server, so that nothing ever opens a window (a test server
// may well be listening on :0).
inline std::string DeadDisplay() {
  for (int number = 6000 + ::getpid() % 3000;; ++number) {
    std::string n = std::to_string(number);
    if (!Exists("/tmp/.X11-unix/X" + n) && !Exists("/tmp/.X" + n + "-lock")) return ":" + n;
  }
}

// An installer, its temporary directory and its runtime, apart from every other world, so
// that worlds can run side by side (different files: different locks).
struct World {
  std::string dir;
  std::string installer;  // dir/inst/setup
  std::string tmp;        // dir/tmp, with a neighbour that the clean-up must not touch
  std::string runtime;    // runtime home under dir/jre
  std::string record;     // where the runtime records its launch

  World(const std::string& root, const FakeRuntimeOptions& java) : dir(root) {
    installer = dir + "/inst/setup";
    tmp = dir + "/tmp";
    MakeDirs(dir + "/inst");
    MakeDirs(tmp);
    // Named like the installer's working directories, but not made by this run.
    WriteFile(tmp + "/setup-neighbour/kept", "kept");
    runtime = MakeFakeRuntime(dir + "/jre", java);
    record = FakeRuntimeRecordPath(dir + "/jre", java);
  }
  ~World() { ::unlink(LockPath(installer).c_str()); }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  RunOptions Options(std::vector<std::string> args = {"-console"}) const {
    RunOptions options;
    options.argv = {installer};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.argv.insert(options.argv.end(), {"-tmpdir", tmp});
    auto env = BaseEnv(tmp);
    env["JAVA_HOME"] = runtime;
    env["DISPLAY"] = DeadDisplay();
    options.env = env;
    options.timeoutSeconds = 120;
    return options;
  }

  // What the run left in its temporary directory, the neighbour aside; the neighbour
  // itself must be intact.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> left;
    for (const auto& name : ListDir(tmp)) {
      if (name != "setup-neighbour") left.push_back(name);
    }
    if (ReadFile(tmp + "/setup-neighbour/kept") != "kept") left.push_back("(neighbour damaged)");
    return left;
  }

  // The working directory of a run in progress, or empty.
  std::string WorkDir() const {
    auto left = Leftovers();
    for (const auto& name : left) {
      if (name.rfind("setup", 0) == 0) return tmp + "/" + name;
    }
    return "";
  }
};

inline const char* SignalName(int sig) { return sig == SIGTERM ? "SIGTERM" : "SIGINT"; }

}  // namespace launcher::campaign

// Runs killed by SIGTERM or SIGINT at random moments of the three long stages, sent to the
// launcher alone or, as a terminal's Ctrl-C does, to its whole process group (its probe or
// Java child too): each must end with 255, remove its working directory and touch nothing
// else in the temporary directory.
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "campaign/campaign_support.h"

namespace launcher::campaign {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kCleanupLine[] = "Deleting temporary files...\n";
constexpr char kUpToProbe[] =
    "Checking available disk space...\n"
    "Checking Java(TM) 2 Runtime Environment...\n"
    "Extracting Java(TM) 2 Runtime Environment files...\n";
constexpr char kExtracting[] = "Extracting installation files...\n";
constexpr char kLaunching[] = "Launching Java(TM) 2 Runtime Environment...\n";

// The share of the campaign's kills that falls to one stage: the first stage takes the
// remainder.
int KillsFor(int stage) {
  int total = CampaignCount("LAUNCHER_CAMPAIGN_KILLS", 100);
  return stage == 0 ? total - 2 * (total / 3) : total / 3;
}

struct Tally {
  int runs = 0;
  int exited255 = 0;
  int clean = 0;         // no working directory left, neighbour intact
  int inStage = 0;       // the output shows that the signal hit the stage aimed at
  int sigterm = 0;
  int toGroup = 0;
  std::vector<std::string> failures;

  void Add(int run, int sig, bool group, const RunResult& result,
           const std::vector<std::string>& left, const std::string& expectedOut) {
    ++runs;
    if (sig == SIGTERM) ++sigterm;
    if (group) ++toGroup;
    if (result.exitCode == 255) ++exited255;
    if (left.empty()) ++clean;
    if (result.out == expectedOut) ++inStage;
    if (result.exitCode != 255 || !left.empty() || !result.err.empty() ||
        result.out != expectedOut) {
      std::string what = "run " + std::to_string(run) + " (" + SignalName(sig) +
                         (group ? " to the group" : "") + "): status " +
                         std::to_string(result.exitCode) + ", signal " +
                         std::to_string(result.signal) + ", stdout '" + result.out +
                         "', stderr '" + result.err + "'";
      for (const auto& name : left) what += ", left " + name;
      failures.push_back(what);
    }
  }

  void Check(const char* stage) const {
    Report("kills during %s: %d runs (%d SIGTERM, %d SIGINT; %d to the process group), %d "
           "exited 255, %d left no working directory, %d hit the stage, seed %llu",
           stage, runs, sigterm, runs - sigterm, toGroup, exited255, clean, inStage,
           static_cast<unsigned long long>(CampaignSeed()));
    for (const auto& failure : failures) ADD_FAILURE() << stage << ": " << failure;
    EXPECT_EQ(exited255, runs);
    EXPECT_EQ(clean, runs);
    EXPECT_EQ(inStage, runs);
  }
};

// Polls until ready() holds; false after the timeout.
bool Await(const std::function<bool()>& ready, std::chrono::seconds timeout) {
  auto end = Clock::now() + timeout;
  while (!ready()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// One kill: which signal, to whom, how long after the stage's mark.
struct Kill {
  int sig;
  bool group;
  std::chrono::microseconds delay;
};

Kill RandomKill(std::mt19937_64& random, int maxDelayMicros) {
  int sig = random() % 2 ? SIGTERM : SIGINT;
  bool group = random() % 2 == 0;
  return {sig, group, std::chrono::microseconds(random() % maxDelayMicros)};
}

// Starts a run, waits until ready() holds, then as long as the kill says, sends the signal
// and collects the run. Children that outlive the launcher (a probe, the Java process)
// share its group and go afterwards.
RunResult KillWhen(const World& world, const std::function<bool()>& ready, const Kill& kill) {
  Background run(world.Options());
  bool reached = Await(ready, std::chrono::seconds(60));
  if (reached) {
    std::this_thread::sleep_for(kill.delay);
    ::kill(kill.group ? -run.pid() : run.pid(), kill.sig);
  }
  RunResult result = run.Wait();
  ::kill(-run.pid(), SIGKILL);
  if (!reached) result.err = "(the stage was never reached) " + result.err;
  return result;
}

// The payload is many small files, so that extraction lasts long enough to be hit at any
// of its entries; the signal comes once a randomly chosen entry exists.
TEST(Kills, DuringExtractionEndWith255AndLeaveNoWorkDir) {
  constexpr int kDataEntries = 3000;
  ScratchDir scratch;
  World world(scratch.path(), {});
  Entries payload = StandardPayload();
  std::string block(4096, 'b');
  for (int i = 0; i < kDataEntries; ++i) payload.emplace_back("data/" + std::to_string(i), block);
  MakeInstaller(world.installer, payload);

  auto random = Generator("DuringExtraction");
  Tally tally;
  for (int run = 0; run < KillsFor(0); ++run) {
    // The last entries are left out: a busy machine may notice the chosen one late.
    int entry = static_cast<int>(random() % (kDataEntries * 7 / 10));
    Kill kill = RandomKill(random, 1000);
    std::string workdir;
    auto reached = [&] {
      if (workdir.empty()) workdir = world.WorkDir();
      return !workdir.empty() && Exists(workdir + "/data/" + std::to_string(entry));
    };
    RunResult result = KillWhen(world, reached, kill);
    EXPECT_FALSE(Exists(world.record + ".argv")) << "run " << run << " reached the Java launch";
    tally.Add(run, kill.sig, kill.group, result, world.Leftovers(),
              std::string(kUpToProbe) + kExtracting + kCleanupLine);
  }
  tally.Check("extraction");
}

// The runtime's "-version" answer takes two seconds; the signal comes at a random moment of
// its first (the second is a margin for a busy machine).
TEST(Kills, DuringTheVersionProbeEndWith255AndLeaveNoWorkDir) {
  ScratchDir scratch;
  World world(scratch.path(), {});
  std::string probing = scratch / "probing";
  AddProbeStep(world.runtime, "/usr/bin/touch '" + probing + "'; /usr/bin/sleep 2");
  MakeInstaller(world.installer, StandardPayload());

  auto random = Generator("DuringTheVersionProbe");
  Tally tally;
  for (int run = 0; run < KillsFor(1); ++run) {
    Kill kill = RandomKill(random, 1000000);
    ::unlink(probing.c_str());
    RunResult result = KillWhen(world, [&] { return Exists(probing); }, kill);
    tally.Add(run, kill.sig, kill.group, result, world.Leftovers(),
              std::string(kUpToProbe) + kCleanupLine);
  }
  tally.Check("the version probe");
}

// The launcher spends the Java run in a 10-second sleep and then in the wait; the signal
// comes at a random moment of the first 12 seconds. The runs go side by side, each with
// its own copy of the installer.
TEST(Kills, DuringTheJavaRunEndWith255AndLeaveNoWorkDir) {
  ScratchDir scratch;
  FakeRuntimeOptions java;
  java.sleepSeconds = 60;
  std::string model = scratch / "setup";
  MakeInstaller(model, StandardPayload());
  std::string bytes = ReadFile(model);

  auto random = Generator("DuringTheJavaRun");
  int runs = KillsFor(2);
  std::vector<std::unique_ptr<World>> worlds;
  std::vector<Kill> kills;
  for (int run = 0; run < runs; ++run) {
    worlds.push_back(std::make_unique<World>(scratch / ("w" + std::to_string(run)), java));
    WriteFile(worlds.back()->installer, bytes, 0755);
    kills.push_back(RandomKill(random, 12000000));
  }
  std::vector<RunResult> results(static_cast<size_t>(runs));
  std::vector<std::thread> threads;
  for (int run = 0; run < runs; ++run) {
    threads.emplace_back([&, run] {
      const World& world = *worlds[static_cast<size_t>(run)];
      results[static_cast<size_t>(run)] =
          KillWhen(world, [&] { return Exists(world.record + ".cwd"); },
                   kills[static_cast<size_t>(run)]);
    });
  }
  for (auto& thread : threads) thread.join();

  Tally tally;
  for (int run = 0; run < runs; ++run) {
    const Kill& kill = kills[static_cast<size_t>(run)];
    tally.Add(run, kill.sig, kill.group, results[static_cast<size_t>(run)],
              worlds[static_cast<size_t>(run)]->Leftovers(),
              std::string(kUpToProbe) + kExtracting + kLaunching + kCleanupLine);
  }
  tally.Check("the Java run");
}

// A terminal's interrupt reaches the launcher's children too, also one that has been forked
// but has not yet run its program: such a child must not run the launcher's clean-up (a
// second clean-up line, a second removal) but simply end. The interrupts fall at random
// moments of the whole start, forks of the version probe and of the Java process included.
TEST(Kills, GroupInterruptDuringAForkRunsTheCleanUpOnce) {
  int runs = CampaignCount("LAUNCHER_CAMPAIGN_GROUP_INTERRUPTS", 300);
  ScratchDir scratch;
  World world(scratch.path(), {});
  MakeInstaller(world.installer, StandardPayload());
  // How long a start takes to reach the Java process here and now.
  auto started = Clock::now();
  {
    Background run(world.Options());
    EXPECT_TRUE(Await([&] { return Exists(world.record + ".cwd"); }, std::chrono::seconds(60)));
    run.Signal(SIGKILL);
    run.Wait();
  }
  auto reach = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
  for (const auto& name : world.Leftovers()) RemoveTree(world.tmp + "/" + name);

  auto random = Generator("GroupInterruptDuringAFork");
  int exited255 = 0;
  int beforeHandlers = 0;
  int doubled = 0;
  int left = 0;
  for (int run = 0; run < runs; ++run) {
    auto delay = std::chrono::microseconds(random() % (reach.count() * 6 / 5 + 1));
    Background launcher(world.Options());
    // The group exists once the child has made it; an earlier signal would go nowhere.
    while (::getpgid(launcher.pid()) != launcher.pid()) std::this_thread::yield();
    std::this_thread::sleep_for(delay);
    ::kill(-launcher.pid(), SIGINT);
    RunResult result = launcher.Wait();
    ::kill(-launcher.pid(), SIGKILL);
    size_t lines = 0;
    for (size_t at = result.out.find(kCleanupLine); at != std::string::npos;
         at = result.out.find(kCleanupLine, at + 1)) {
      ++lines;
    }
    if (result.exitCode == 255) ++exited255;
    if (result.signal == SIGINT) ++beforeHandlers;  // no handler yet: nothing to clean up
    if (lines > 1) ++doubled;
    auto leftovers = world.Leftovers();
    if (!leftovers.empty()) ++left;
    EXPECT_TRUE((result.exitCode == 255 && lines == 1) ||
                (result.signal == SIGINT && lines == 0))
        << "run " << run << " after " << delay.count() << " us: status " << result.exitCode
        << ", signal " << result.signal << ", stdout '" << result.out << "'";
    for (const auto& name : leftovers) RemoveTree(world.tmp + "/" + name);
  }
  Report("group interrupts over the first %lld us of a start: %d runs, %d exited 255, %d "
         "ended before the handlers, %d printed the clean-up twice, %d left a working "
         "directory, seed %llu",
         static_cast<long long>(reach.count() * 6 / 5), runs, exited255, beforeHandlers,
         doubled, left, static_cast<unsigned long long>(CampaignSeed()));
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(left, 0);
}

}  // namespace
}  // namespace launcher::campaign

// Many runs at once: different copies must not disturb each other, and starts of one copy
// must give exactly one run.
#include <memory>
#include <set>

#include "campaign/campaign_support.h"

namespace launcher::campaign {
namespace {

// Takes at least 10 seconds: the runs overlap. All copies share one temporary directory
// and one name prefix, so their working-directory names race.
TEST(Load, DifferentCopiesInstallingAtOnceAllSucceedAndLeaveNothingBehind) {
  int copies = CampaignCount("LAUNCHER_CAMPAIGN_COPIES", 50);
  ScratchDir scratch;
  std::string shared = scratch / "tmp";
  MakeDirs(shared);
  WriteFile(shared + "/setup-neighbour/kept", "kept");
  std::vector<std::unique_ptr<World>> worlds;
  for (int copy = 0; copy < copies; ++copy) {
    FakeRuntimeOptions java;
    java.exitCode = copy % 9;  // never 10, the upgrade request
    worlds.push_back(std::make_unique<World>(scratch / ("c" + std::to_string(copy)), java));
    const World& world = *worlds.back();
    AddLaunchStep(world.runtime, "/usr/bin/cat id > '" + world.record + ".id'; "
                                 "/usr/bin/cat data/* | /usr/bin/wc -c > '" + world.record +
                                 ".bytes'");
    Entries payload = StandardPayload();
    payload.emplace_back("id", std::to_string(copy));
    for (int i = 0; i < 100; ++i) payload.emplace_back("data/" + std::to_string(i), "0123456789");
    MakeInstaller(world.installer, payload);
  }

  std::vector<std::unique_ptr<Background>> runs;
  for (const auto& world : worlds) {
    RunOptions options = world->Options();
    options.argv.back() = shared;  // -tmpdir
    (*options.env)["TMPDIR"] = shared;
    runs.push_back(std::make_unique<Background>(options));
  }
  int succeeded = 0;
  std::set<std::string> workdirs;
  for (int copy = 0; copy < copies; ++copy) {
    RunResult result = runs[static_cast<size_t>(copy)]->Wait();
    const World& world = *worlds[static_cast<size_t>(copy)];
    LaunchRecord record = ReadLaunchRecord(world.record);
    bool ok = result.exitCode == copy % 9 && result.out == kFullRunOutput && result.err.empty() &&
              record.present && ReadFile(world.record + ".id") == std::to_string(copy) &&
              std::stoi("0" + ReadFile(world.record + ".bytes")) == 1000;
    EXPECT_TRUE(ok) << "copy " << copy << ": status " << result.exitCode << ", stdout '"
                    << result.out << "', stderr '" << result.err << "'";
    if (ok) ++succeeded;
    workdirs.insert(record.cwd);
    EXPECT_FALSE(Exists(LockPath(world.installer))) << "copy " << copy << " left its lock";
  }
  EXPECT_EQ(workdirs.size(), static_cast<size_t>(copies)) << "two runs shared a directory";
  std::vector<std::string> left = ListDir(shared);
  EXPECT_EQ(left, std::vector<std::string>{"setup-neighbour"});
  EXPECT_EQ(ReadFile(shared + "/setup-neighbour/kept"), "kept");
  Report("%d copies at once: %d succeeded with their own files and status, %d distinct "
         "working directories, %d entries left in the temporary directory",
         copies, succeeded, static_cast<int>(workdirs.size()), static_cast<int>(left.size()) - 1);
}

// Takes at least 10 seconds: the run that gets the lock goes to its end.
TEST(Load, StartsOfTheSameCopyAtOnceGiveOneRunAndRefuseTheRest) {
  int starts = CampaignCount("LAUNCHER_CAMPAIGN_STARTS", 20);
  ScratchDir scratch;
  FakeRuntimeOptions java;
  java.sleepSeconds = 1;
  World world(scratch.path(), java);
  std::string launches = scratch / "launches";
  AddLaunchStep(world.runtime, "echo run >> '" + launches + "'");
  MakeInstaller(world.installer, StandardPayload());

  std::vector<std::unique_ptr<Background>> runs;
  for (int start = 0; start < starts; ++start) {
    runs.push_back(std::make_unique<Background>(world.Options()));
  }
  int ran = 0;
  int refused = 0;
  for (auto& run : runs) {
    RunResult result = run->Wait();
    if (result.exitCode == 0 && result.out == kFullRunOutput && result.err.empty()) {
      ++ran;
    } else if (result.exitCode == 1 && result.out.empty() &&
               result.err == "Another installation process is already running. Exiting.\n") {
      ++refused;
    } else {
      ADD_FAILURE() << "status " << result.exitCode << ", signal " << result.signal
                    << ", stdout '" << result.out << "', stderr '" << result.err << "'";
    }
  }
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(refused, starts - 1);
  EXPECT_EQ(ReadFile(launches), "run\n") << "the Java program must run exactly once";
  EXPECT_FALSE(Exists(LockPath(world.installer)));
  EXPECT_TRUE(world.Leftovers().empty());
  Report("%d starts of one copy at once: %d ran, %d refused with the exact text", starts, ran,
         refused);
}

}  // namespace
}  // namespace launcher::campaign

// Whole runs under valgrind's memcheck: no invalid access, no use of undefined values, no
// definite leak, on the full run and on the early exits.
#include "campaign/campaign_support.h"

namespace launcher::campaign {
namespace {

constexpr int kValgrindError = 99;

struct Memcheck {
  RunResult run;
  std::string log;
};

RunOptions ValgrindOptions(const World& world, const std::vector<std::string>& args) {
  RunOptions options = world.Options(args);
  std::string log = world.dir + "/memcheck.log";
  std::vector<std::string> argv = {
#ifdef VALGRIND_PATH
      VALGRIND_PATH,
#endif
      "--tool=memcheck", "--leak-check=full", "--errors-for-leak-kinds=definite",
      "--error-exitcode=" + std::to_string(kValgrindError), "--trace-children=no",
      "--log-file=" + log};
  argv.insert(argv.end(), options.argv.begin(), options.argv.end());
  options.argv = argv;
  options.timeoutSeconds = 300;
  return options;
}

Memcheck UnderValgrind(const World& world, const std::vector<std::string>& args) {
  Memcheck result{launcher::test::Run(ValgrindOptions(world, args)), ""};
  result.log = ReadFile(world.dir + "/memcheck.log");
  return result;
}

class Memory : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef VALGRIND_PATH
    GTEST_SKIP() << "valgrind is not installed";
#endif
  }
};

bool NoErrors(const Memcheck& checked) {
  return checked.log.find("ERROR SUMMARY: 0 errors") != std::string::npos;
}

// Takes at least 10 seconds: the run reaches the Java launch and waits for it.
TEST_F(Memory, FullConsoleRunHasNoErrorAndNoDefiniteLeak) {
  ScratchDir scratch;
  FakeRuntimeOptions java;
  java.exitCode = 3;
  World world(scratch.path(), java);
  Entries payload = StandardPayload();
  for (int i = 0; i < 50; ++i) payload.emplace_back("data/" + std::to_string(i), std::string(5000, 'v'));
  MakeInstaller(world.installer, payload);
  Memcheck checked = UnderValgrind(world, {"-console", "-debug", "-id", "-savestate", "state"});
  EXPECT_EQ(checked.run.exitCode, 3) << checked.log;
  EXPECT_EQ(checked.run.out, kFullRunOutput);
  EXPECT_EQ(checked.run.err, "");
  EXPECT_TRUE(NoErrors(checked)) << checked.log;
  EXPECT_TRUE(ReadLaunchRecord(world.record).present);
  EXPECT_TRUE(world.Leftovers().empty());
  Report("memcheck, full console run: status %d, %s", checked.run.exitCode,
         NoErrors(checked) ? "0 errors" : "ERRORS");
}

// Takes at least 10 seconds. The runtime comes from the payload, which the search extracts.
TEST_F(Memory, SilentRunWithThePayloadRuntimeHasNoErrorAndNoDefiniteLeak) {
  ScratchDir scratch;
  World world(scratch.path(), {});
  std::string payloadJava = scratch / "payload-jre";
  MakeFakeRuntime(payloadJava, {});
  Entries payload = StandardPayload();
  payload.emplace_back("package/jre/bin/java", ReadFile(payloadJava + "/bin/java"));
  payload.emplace_back("package/jre/lib/i386/libjava.so", "");
  MakeInstaller(world.installer, payload);
  Memcheck checked = UnderValgrind(world, {"-silent", "answers"});
  EXPECT_EQ(checked.run.exitCode, 0) << checked.run.err;
  EXPECT_EQ(checked.run.out, kFullRunOutput);
  EXPECT_TRUE(NoErrors(checked)) << checked.log;
  EXPECT_TRUE(ReadLaunchRecord(payloadJava + "/launch-record").present);
  EXPECT_FALSE(ReadLaunchRecord(world.record).present) << "the payload runtime comes first";
  EXPECT_TRUE(world.Leftovers().empty());
  Report("memcheck, silent run with the payload runtime: status %d, %s", checked.run.exitCode,
         NoErrors(checked) ? "0 errors" : "ERRORS");
}

// The handler's way out: clean-up and _exit while the Java program runs.
TEST_F(Memory, TerminationDuringTheJavaRunHasNoErrorAndNoDefiniteLeak) {
  ScratchDir scratch;
  FakeRuntimeOptions java;
  java.sleepSeconds = 60;
  World world(scratch.path(), java);
  MakeInstaller(world.installer, StandardPayload());
  Background run(ValgrindOptions(world, {"-console"}));
  EXPECT_TRUE(WaitFor(world.record + ".cwd", std::chrono::seconds(120)));
  run.Signal(SIGTERM);
  Memcheck checked{run.Wait(), ReadFile(world.dir + "/memcheck.log")};
  ::kill(-run.pid(), SIGKILL);
  EXPECT_EQ(checked.run.exitCode, 255) << checked.log;
  EXPECT_TRUE(NoErrors(checked)) << checked.log;
  EXPECT_TRUE(world.Leftovers().empty());
  Report("memcheck, termination during the Java run: status %d, %s", checked.run.exitCode,
         NoErrors(checked) ? "0 errors" : "ERRORS");
}

// The exits before the Java run: help, an option error, the display, no runtime.
TEST_F(Memory, EarlyExitsHaveNoErrorAndNoDefiniteLeak) {
  ScratchDir scratch;
  World world(scratch.path(), {});
  MakeInstaller(world.installer, StandardPayload());
  const std::vector<std::vector<std::string>> lines = {
      {"-help"}, {"-console", "-bogus"}, {"-silent"}, {"-tmpdir", "/nonexistent", "-console"},
      {}, {"-silent", "answers", "-javahome", "nowhere"}};
  int clean = 0;
  for (const auto& args : lines) {
    Memcheck checked = UnderValgrind(world, args);
    if (args.empty()) {
      // World::Options adds -tmpdir; without -console this is the graphical mode.
      EXPECT_NE(checked.run.err.find("Cannot connect to X11 server"), std::string::npos)
          << checked.run.err;
    }
    EXPECT_NE(checked.run.exitCode, kValgrindError) << checked.log;
    EXPECT_TRUE(NoErrors(checked)) << checked.log;
    if (NoErrors(checked)) ++clean;
    for (const auto& name : world.Leftovers()) RemoveTree(world.tmp + "/" + name);
  }
  Report("memcheck, early exits: %d of %d runs with 0 errors", clean,
         static_cast<int>(lines.size()));
}

}  // namespace
}  // namespace launcher::campaign

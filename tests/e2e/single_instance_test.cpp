// One run per installer file and user: the lock in /var/tmp, its refusal and its removal.
#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

class SingleInstance : public InstallerTest {};

// Takes at least 10 seconds: the first run goes on to its normal end.
TEST_F(SingleInstance, SecondRunOfTheSameFileIsRefusedAndTheFirstIsUndisturbed) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 5;
  std::string home = Runtime("jre", java);
  Background first(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  ASSERT_TRUE(WaitFor(FakeRuntimeRecordPath(scratch / "jre", java) + ".cwd"));
  std::string lock = LockPath(installer);
  EXPECT_TRUE(Exists(lock));

  // Refused before its command line is read, so even a request for help.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-console", "-tmpdir", tmp}, std::vector<std::string>{"-help"}}) {
    RunResult second = Launch(Options(args, {{"JAVA_HOME", home}}));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "Another installation process is already running. Exiting.\n");
    EXPECT_TRUE(Exists(lock)) << "the refused run must leave the holder's lock file";
  }

  RunResult result = first.Wait();
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_EQ(result.out, kFullRunOutput);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(Exists(lock)) << "no lock file after a normal end";
  EXPECT_TRUE(ListDir(tmp).empty());
}

// Takes at least 10 seconds, once: the two runs overlap.
TEST_F(SingleInstance, TwoCopiesOfTheInstallerRunSideBySide) {
  MakeInstaller(installer, StandardPayload());
  std::string copy = scratch / "inst/setup2";
  WriteFile(copy, ReadFile(installer), 0755);
  std::string homeA = Runtime("jreA");
  std::string homeB = Runtime("jreB");
  auto start = std::chrono::steady_clock::now();
  Background a(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", homeA}}));
  RunOptions optionsB = Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", homeB}});
  optionsB.argv[0] = copy;
  Background b(optionsB);
  RunResult resultA = a.Wait();
  RunResult resultB = b.Wait();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(19))
      << "the copies ran one after the other";
  EXPECT_EQ(resultA.exitCode, 0) << resultA.err;
  EXPECT_EQ(resultB.exitCode, 0) << resultB.err;
  EXPECT_TRUE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jreA", {})).present);
  EXPECT_TRUE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jreB", {})).present);
  EXPECT_FALSE(Exists(LockPath(copy)));
  EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(SingleInstance, StaleLockFileOfAKilledRunDoesNotBlock) {
  MakeInstaller(installer, StandardPayload());
  std::string lock = LockPath(installer);
  WriteFile(lock, "left by a killed launcher", 0600);
  RunResult run = Launch(Options({"-help"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kUsage);
  EXPECT_FALSE(Exists(lock));
}

// Another user may plant anything at the lock path in the shared /var/tmp: the run goes on
// unlocked, never blocks, and leaves what was planted, and what it points to, as it was.
TEST_F(SingleInstance, NothingPlantedAtTheLockPathIsFollowedTruncatedOrWaitedFor) {
  MakeInstaller(installer, StandardPayload());
  std::string lock = LockPath(installer);
  std::string victim = lock + ".victim";  // beside it: a hard link needs the same file system
  for (const char* plant : {"symlink", "hard link", "FIFO", "another user's locked file"}) {
    SCOPED_TRACE(plant);
    WriteFile(victim, "must survive", 0644);
    std::string target = victim;
    std::unique_ptr<Background> holder;
    std::string kind = plant;
    int planted = kind == "symlink"     ? ::symlink(victim.c_str(), lock.c_str())
                  : kind == "hard link" ? ::link(victim.c_str(), lock.c_str())
                  : kind == "FIFO"      ? ::mkfifo(lock.c_str(), 0600)
                                        : 0;
    ASSERT_EQ(planted, 0);
    if (kind == "another user's locked file") {
      if (::geteuid() != 0) continue;  // needs root to act as another user
      RunOptions options;
      options.argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                      "/usr/bin/python3", "-c",
                      "import fcntl, sys, time\n"
                      "f = open(sys.argv[1], 'w'); fcntl.lockf(f, fcntl.LOCK_EX)\n"
                      "f.write('must survive'); f.flush(); time.sleep(100)\n",
                      lock};
      holder = std::make_unique<Background>(options);
      for (int i = 0; i < 3000 && ReadFile(lock) != "must survive"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      target = lock;
    }
    RunResult run = Launch(Options({"-help"}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, kUsage);
    EXPECT_EQ(ReadFile(target), "must survive");
    ::unlink(lock.c_str());
  }
  ::unlink(victim.c_str());
}

}  // namespace
}  // namespace launcher::e2e

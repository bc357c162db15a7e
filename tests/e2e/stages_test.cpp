// The failure exits of the run's stages, each with its exact messages and status 1.
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

constexpr char kTempDirUsage[] =
    "Try rerunning this application with the following usage:\n"
    "    'setup' -tmpdir <temporary directory>\n";

std::string NotWritable(const std::string& dir) {
  return "Error: The '" + dir + "' temporary directory is not a writable directory.\n" +
         kTempDirUsage;
}

class Stages : public InstallerTest {
 protected:
  void TearDown() override {
    for (const auto& mount : mounts) ::umount2(mount.c_str(), MNT_DETACH);
    InstallerTest::TearDown();
  }

  // Mounts a small tmpfs at dir; false where this test may not mount.
  bool MountTmpfs(const std::string& dir, const std::string& options, unsigned long flags = 0) {
    MakeDirs(dir);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", flags, options.c_str()) != 0) return false;
    mounts.push_back(dir);
    return true;
  }

  std::vector<std::string> mounts;
};

TEST_F(Stages, NameGeneratorFailureEndsStageSevenWithBothMessages) {
  MakeInstaller(installer, StandardPayload());
  // The working directory goes into $TMPDIR first, and no name fits a path below this one.
  std::string deep = tmp;
  while (deep.size() < 4086) {
    deep += "/" + std::string(std::min<size_t>(200, 4086 - deep.size() - 1), 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0) << std::strerror(errno);
  }
  RunResult run = Launch(Options({"-console", "-tmpdir", scratch / "inst"}, {{"TMPDIR", deep}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Checking available disk space...\n");
  EXPECT_EQ(run.err, NotWritable(scratch / "inst"));
}

TEST_F(Stages, WorkDirThatCannotBeMadeEndsStageSevenInsteadOfRetrying) {
  MakeInstaller(installer, StandardPayload());
  std::string readOnly = scratch / "ro";
  if (!MountTmpfs(readOnly, "size=64k", MS_RDONLY)) GTEST_SKIP() << "mounting not allowed here";
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"TMPDIR", readOnly}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Checking available disk space...\n");
  EXPECT_EQ(run.err, NotWritable(tmp));
}

// The payload is sized so that needed (its entries plus 100000 bytes) is exactly what the
// file system offers, then one byte more.
TEST_F(Stages, FreeSpaceEqualToTheNeedPassesAndOneByteLessFails) {
  std::string small = scratch / "small";
  if (!MountTmpfs(small, "size=1m,mode=0777")) GTEST_SKIP() << "mounting not allowed here";
  struct statvfs fs;
  ASSERT_EQ(::statvfs(small.c_str(), &fs), 0);
  uint64_t available = static_cast<uint64_t>(fs.f_frsize) * fs.f_bavail;
  ASSERT_GT(available, 100000u + 100u);
  uint64_t payloadForExactFit = available - 100000;
  std::string name = "vantor.class";
  for (uint64_t payload : {payloadForExactFit, payloadForExactFit + 1}) {
    MakeInstaller(installer, Entries{{name, std::string(payload, 'x')}});
    RunResult run = Launch(Options({"-console", "-tmpdir", small}, {{"TMPDIR", small}}));
    EXPECT_EQ(run.exitCode, 1);
    if (payload == payloadForExactFit) {
      // Passing the check, the run goes on until it finds no Java runtime.
      EXPECT_EQ(run.out,
                "Checking available disk space...\n"
                "Checking Java(TM) 2 Runtime Environment...\n"
                "Extracting Java(TM) 2 Runtime Environment files...\n");
      EXPECT_NE(run.err.find("Could not find the required version"), std::string::npos)
          << run.err;
    } else {
      EXPECT_EQ(run.out, "Checking available disk space...\n");
      EXPECT_EQ(run.err,
                "\nError: There is not enough free disk space in the '" + small +
                    "' temporary directory.\n" + std::to_string(available + 1) +
                    " bytes are required and only " + std::to_string(available) +
                    " bytes are available.\n" + kTempDirUsage);
    }
    for (const auto& entry : ListDir(small)) RemoveTree(small + "/" + entry);
    ::unlink(LockPath(installer).c_str());
  }
}

// The space needed counts the entries up to the first whose local header can't be read,
// though the total is first taken from the directory index, which counts them all.
TEST_F(Stages, SpaceCountStopsAtAnEntryWhoseLocalHeaderCannotBeRead) {
  std::string small = scratch / "small";
  if (!MountTmpfs(small, "size=1m,mode=0777")) GTEST_SKIP() << "mounting not allowed here";
  struct statvfs fs;
  ASSERT_EQ(::statvfs(small.c_str(), &fs), 0);
  uint64_t available = static_cast<uint64_t>(fs.f_frsize) * fs.f_bavail;
  uint64_t fits = available - 100000;
  size_t stubSize = ReadFile(LauncherPath()).size();
  // The second entry's local header gets a wrong signature.
  auto damaged = [&](uint64_t first, uint64_t second) {
    MakeInstaller(installer, Entries{{"vantor.class", std::string(first, 'x')},
                                     {"damaged", std::string(second, 'y')}});
    std::string bytes = ReadFile(installer);
    size_t header = bytes.find("damaged", stubSize) - 30;  // the name follows the header
    ASSERT_EQ(bytes.compare(header, 4, std::string("PK\x03\x04", 4)), 0);
    bytes[header + 2] = 'X';
    WriteFile(installer, bytes, 0755);
  };

  damaged(1, fits);  // both would not fit; the first alone does
  RunResult run = Launch(Options({"-console", "-tmpdir", small}, {{"TMPDIR", small}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out,
            "Checking available disk space...\n"
            "Checking Java(TM) 2 Runtime Environment...\n"
            "Extracting Java(TM) 2 Runtime Environment files...\n");
  for (const auto& entry : ListDir(small)) RemoveTree(small + "/" + entry);
  ::unlink(LockPath(installer).c_str());

  damaged(fits + 1, 1000);  // the message shows the need counted up to the damaged entry
  run = Launch(Options({"-console", "-tmpdir", small}, {{"TMPDIR", small}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Checking available disk space...\n");
  EXPECT_NE(run.err.find(std::to_string(available + 1) + " bytes are required and only " +
                         std::to_string(available) + " bytes are available."),
            std::string::npos)
      << run.err;
}

TEST_F(Stages, EntryEscapingTheWorkDirFailsExtractionAsCorrupted) {
  Entries payload = StandardPayload();
  payload.emplace_back("../escaped", "outside");
  payload.emplace_back("after", "never written");
  MakeInstaller(installer, payload);
  std::string home = Runtime("jre");
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, kOutputUpToExtraction);
  EXPECT_EQ(run.err, CorruptedError(installer));
  EXPECT_FALSE(Exists(tmp + "/escaped"));
  auto workdir = WorkDir();
  ASSERT_TRUE(workdir) << "a failure exit leaves the working directory";
  EXPECT_FALSE(Exists(*workdir + "/after"));
  EXPECT_FALSE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {})).present);
}

// ExecuteJava returns at once here, so the normal clean-up runs without the 10 seconds.
TEST_F(Stages, PayloadWithoutMainClassIsReportedAndStillCleanedUp) {
  MakeInstaller(installer, Entries{{"package/PackageFormat.jar", "jar bytes"}});
  std::string home = Runtime("jre");
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "Error: There are no files requiring installation.\n");
  EXPECT_TRUE(ListDir(tmp).empty());
  EXPECT_FALSE(Exists(LockPath(installer)));
}

}  // namespace
}  // namespace launcher::e2e

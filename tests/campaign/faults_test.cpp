// File systems that fill up during extraction, and a Java program that dies by a signal.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "campaign/campaign_support.h"

namespace launcher::campaign {
namespace {

constexpr char kUpToExtraction[] =
    "Checking available disk space...\n"
    "Checking Java(TM) 2 Runtime Environment...\n"
    "Extracting Java(TM) 2 Runtime Environment files...\n"
    "Extracting installation files...\n";

struct FullFileSystem {
  const char* name;
  // Passes the disk-space check (entries total far less than the size) and still runs
  // out: every file takes an inode and at least one 4 KiB page, whatever its length.
  const char* tight;
  int entries;
  int entryLength;
};

void PrintTo(const FullFileSystem& fileSystem, std::ostream* os) { *os << fileSystem.name; }

class FullDuringExtraction : public ::testing::TestWithParam<FullFileSystem> {
 protected:
  void TearDown() override {
    if (mounted) ::umount2(small.c_str(), MNT_DETACH);
  }

  ScratchDir scratch;
  std::string small = scratch / "small";
  bool mounted = false;
};

// The failing run stops at the first entry that can't be written; the working directory
// it leaves (failure exits keep it) is no reason for the next run to fail once there is
// room, and that run finds every file whole.
TEST_P(FullDuringExtraction, IsReportedAsCorruptedAndTheNextRunWithRoomSucceeds) {
  MakeDirs(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, GetParam().tight) != 0) {
    GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);
  }
  mounted = true;
  World world(scratch / "world", {});
  AddLaunchStep(world.runtime, "/usr/bin/cat data/* | /usr/bin/wc -c > '" + world.record +
                                   ".bytes'");
  Entries payload = StandardPayload();
  std::string content(static_cast<size_t>(GetParam().entryLength), 'z');
  for (int i = 0; i < GetParam().entries; ++i) payload.emplace_back("data/" + std::to_string(i), content);
  MakeInstaller(world.installer, payload);
  RunOptions options = world.Options();
  options.argv.back() = small;         // -tmpdir
  (*options.env)["TMPDIR"] = small;

  RunResult full = launcher::test::Run(options);
  EXPECT_EQ(full.exitCode, 1) << full.err;
  EXPECT_EQ(full.out, kUpToExtraction);
  EXPECT_EQ(full.err, "Error: The '/" + world.installer + "' file appears to be corrupted.\n");
  EXPECT_FALSE(Exists(world.record + ".argv")) << "a truncated payload must never run";
  std::vector<std::string> leftover = ListDir(small);
  EXPECT_EQ(leftover.size(), 1u) << "the failed run's working directory";

  ASSERT_EQ(::mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=64m,nr_inodes=100000"),
            0)
      << std::strerror(errno);
  RunResult next = launcher::test::Run(options);
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(next.out, kFullRunOutput);
  EXPECT_EQ(next.err, "");
  EXPECT_EQ(std::stoll(ReadFile(world.record + ".bytes")),
            static_cast<long long>(GetParam().entries) * GetParam().entryLength)
      << "the Java program must see every extracted byte";
  EXPECT_EQ(ListDir(small), leftover) << "the successful run must remove its own directory";
  Report("full file system (%s) during extraction: status %d with the corrupted-file message; "
         "next run with room: status %d, %d files whole",
         GetParam().name, full.exitCode, next.exitCode, GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Campaign, FullDuringExtraction,
    ::testing::Values(
        // 40 inodes: the working directory and a few dozen files.
        FullFileSystem{"inodes", "size=1m,nr_inodes=40,mode=0777", 200, 10},
        // 128 pages; 100 entries of two pages each, declared as 100 * 4097 bytes (which
        // with the margin still fits), so the space runs out in the middle of an entry.
        FullFileSystem{"space", "size=512k,nr_inodes=10000,mode=0777", 100, 4097}),
    [](const ::testing::TestParamInfo<FullFileSystem>& param) {
      return std::string(param.param.name);
    });

class JavaKilled : public ::testing::TestWithParam<int> {};

// Takes at least 10 seconds: the launcher keeps its status window up that long.
TEST_P(JavaKilled, BySignalGivesStatusOneAndTheNormalCleanUp) {
  ScratchDir scratch;
  FakeRuntimeOptions java;
  java.exitSignal = GetParam();
  World world(scratch.path(), java);
  MakeInstaller(world.installer, StandardPayload());
  RunResult result = launcher::test::Run(world.Options());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, kFullRunOutput);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(ReadLaunchRecord(world.record).present);
  EXPECT_TRUE(world.Leftovers().empty());
  Report("Java program killed by signal %d: launcher status %d", GetParam(), result.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Campaign, JavaKilled, ::testing::Values(SIGKILL, SIGTERM));

}  // namespace
}  // namespace launcher::campaign

// A relative -tmpdir value. The run changes into the working directory before it starts
// Java, so every path derived from the temporary directory must already be absolute:
// relative ones would point below the working directory, and the clean-up, which removes
// only absolute paths, would leave the working directory behind.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>

#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

class RelativeTmpdir : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    reltmp = scratch / "reltmp";
    MakeDirs(reltmp);
  }

  // A console run from scratch with -tmpdir reltmp; TMPDIR as given (nullopt: unset, so
  // that the working directory goes into the directory the launcher hands on).
  RunResult RunFromScratch(const std::string& home, std::optional<std::string> tmpdirEnv) {
    RunOptions options = Options({"-console", "-tmpdir", "reltmp"}, {{"JAVA_HOME", home}});
    if (tmpdirEnv) {
      (*options.env)["TMPDIR"] = *tmpdirEnv;
    } else {
      options.env->erase("TMPDIR");
    }
    options.cwd = scratch.path();
    return Launch(options);
  }

  // The working directory that the launch recorded, checked to lie directly in reltmp.
  std::string CheckedWorkDir(const LaunchRecord& record) {
    auto workdir = Property(record, "java.io.tmpdir");
    EXPECT_TRUE(workdir);
    if (!workdir) return "";
    EXPECT_TRUE(std::regex_match(*workdir, std::regex(reltmp + "/setup[A-Za-z0-9]{6}")))
        << *workdir;
    EXPECT_EQ(record.cwd, *workdir);
    EXPECT_EQ(Property(record, "temp.dir"), reltmp);
    return *workdir;
  }

  std::string reltmp;
};

// The upgrade request also exercises the script path formed from the temporary directory.
TEST_F(RelativeTmpdir, JavaGetsAbsoluteDirectoriesAndNothingIsLeftInIt) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 10;
  std::string home = Runtime("jre", java);
  std::string marks = scratch / "marks";
  MakeDirs(marks);
  AddUpgradeScript(home, "pwd -P > " + marks + "/cwd\\n");
  RunResult run = RunFromScratch(home, std::nullopt);
  EXPECT_EQ(run.exitCode, 10);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");

  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", java));
  ASSERT_TRUE(record.present) << "the installer program was not started";
  std::string workdir = CheckedWorkDir(record);
  EXPECT_TRUE(Exists(marks + "/cwd")) << "the upgrade script was not found in reltmp";
  EXPECT_TRUE(ListDir(reltmp).empty()) << "working directory or upgrade script left";
  EXPECT_FALSE(Exists(LockPath(installer)));
}

// The working directory goes into TMPDIR first; a relative one gives a relative name.
TEST_F(RelativeTmpdir, RelativeTmpdirVariableStillGivesAnAbsoluteWorkDir) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 3;
  std::string home = Runtime("jre", java);
  RunResult run = RunFromScratch(home, "reltmp");
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");
  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", java));
  ASSERT_TRUE(record.present);
  CheckedWorkDir(record);
  EXPECT_TRUE(ListDir(reltmp).empty()) << "working directory left";
}

TEST_F(RelativeTmpdir, MessageNamingTheTempDirShowsItsAbsolutePath) {
  MakeInstaller(installer, StandardPayload());
  // No working directory name fits a path below this TMPDIR, so none can be made.
  std::string deep = tmp;
  while (deep.size() < 4086) {
    deep += "/" + std::string(std::min<size_t>(200, 4086 - deep.size() - 1), 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0) << std::strerror(errno);
  }
  RunResult run = RunFromScratch(Runtime("jre"), deep);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Checking available disk space...\n");
  EXPECT_EQ(run.err,
            "Error: The '" + reltmp + "' temporary directory is not a writable directory.\n"
            "Try rerunning this application with the following usage:\n"
            "    'setup' -tmpdir <temporary directory>\n");
}

}  // namespace
}  // namespace launcher::e2e

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/child.h"
#include "runtime/launch.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

// Leaves a marker, its environment and its directory beside the script, then exits with
// the given code.
std::string Script(const std::string& dir, int code) {
  return "#!/bin/sh\n"
         "/usr/bin/env > '" + dir + "/ran.env'\n"
         "pwd -P > '" + dir + "/ran.cwd'\n"
         "echo \"$0\" > '" + dir + "/ran.arg0'\n"
         "exit " + std::to_string(code) + "\n";
}

class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The temporary directory is shared: world-writable and sticky, as /var/tmp is.
    ::chmod(scratch_.path().c_str(), 0755);
    test::MakeDirs(tmp_);
    ::chmod(tmp_.c_str(), 01777);
  }
  int Invoke(const std::string& path) {
    return std::stoi(test::InChild([&] {
      if (::chdir(scratch_.path().c_str()) != 0) return std::string("-100");
      return std::to_string(InvokeUpgradeTool(path.c_str()));
    }));
  }
  bool Ran() { return Exists(tmp_ + "/ran.env"); }

  ScratchDir scratch_;
  std::string tmp_ = scratch_ / "tmp";
  std::string script_ = tmp_ + "/UpgradeInvoker.sh";
};

TEST_F(UpgradeTest, RunsOwnScriptWithEmptyEnvironmentInCurrentDirectory) {
  ::setenv("LAUNCHER_UPGRADE_MARK", "1", 1);
  WriteFile(script_, Script(tmp_, 7), 0755);
  EXPECT_EQ(7, Invoke(script_));
  ASSERT_TRUE(Ran());
  // Only the variable the shell sets itself.
  char cwd[4096];
  ASSERT_TRUE(::realpath(scratch_.path().c_str(), cwd));
  EXPECT_EQ(std::string("PWD=") + cwd + "\n", ReadFile(tmp_ + "/ran.env"));
  EXPECT_EQ(std::string(cwd) + "\n", ReadFile(tmp_ + "/ran.cwd"));
  EXPECT_EQ(script_ + "\n", ReadFile(tmp_ + "/ran.arg0")) << "scripts locate themselves by $0";
  EXPECT_TRUE(Exists(script_)) << "removing the script is the caller's business";
  ::unsetenv("LAUNCHER_UPGRADE_MARK");
}

TEST_F(UpgradeTest, ReportsExitCodeOrMinusOne) {
  WriteFile(script_, Script(tmp_, 0), 0755);
  EXPECT_EQ(0, Invoke(script_));
  WriteFile(script_, "#!/bin/sh\nkill -9 $$\n", 0755);
  EXPECT_EQ(-1, Invoke(script_));
  EXPECT_EQ(-1, Invoke(tmp_ + "/absent.sh"));
  WriteFile(script_, "#!/nonexistent/interpreter\n", 0755);
  EXPECT_NE(0, Invoke(script_));
}

TEST_F(UpgradeTest, LongTemporaryDirectoryPathFits) {
  std::string deep = tmp_ + "/" + std::string(120, 'd') + "/" + std::string(120, 'e');
  test::MakeDirs(deep);
  WriteFile(deep + "/UpgradeInvoker.sh", Script(tmp_, 3), 0755);
  EXPECT_EQ(3, Invoke(deep + "/UpgradeInvoker.sh"));
  EXPECT_TRUE(Ran());
}

TEST_F(UpgradeTest, RefusesScriptPlantedByAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  WriteFile(scratch_ / "source.sh", Script(tmp_, 0), 0644);
  std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups /bin/sh -c \"cat '" +
                        (scratch_ / "source.sh") + "' > '" + script_ + "' && chmod 755 '" +
                        script_ + "'\"";
  ASSERT_EQ(0, std::system(command.c_str()));
  struct stat st;
  ASSERT_EQ(0, ::stat(script_.c_str(), &st));
  ASSERT_EQ(65534u, st.st_uid);
  EXPECT_EQ(-1, Invoke(script_));
  EXPECT_FALSE(Ran());
}

TEST_F(UpgradeTest, RefusesLinksWritableFilesAndNonFiles) {
  std::string real = scratch_ / "real.sh";
  WriteFile(real, Script(tmp_, 0), 0755);
  ASSERT_EQ(0, ::symlink(real.c_str(), script_.c_str()));
  EXPECT_EQ(-1, Invoke(script_)) << "symbolic link";
  ::unlink(script_.c_str());
  ASSERT_EQ(0, ::link(real.c_str(), script_.c_str()));
  EXPECT_EQ(-1, Invoke(script_)) << "hard link";
  ::unlink(script_.c_str());

  for (mode_t mode : {0775, 0757, 0777}) {
    WriteFile(script_, Script(tmp_, 0), mode);
    EXPECT_EQ(-1, Invoke(script_)) << std::oct << mode;
    ::unlink(script_.c_str());
  }
  test::MakeDirs(script_);
  EXPECT_EQ(-1, Invoke(script_)) << "directory";
  EXPECT_FALSE(Ran());
}

}  // namespace
}  // namespace launcher

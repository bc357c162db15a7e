// The demo installer program, run with a real Java runtime the way the launcher runs it:
// from the unpacked payload as current directory.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

const std::string kPayload = std::string(LAUNCHER_BINARY_DIR) + "/demo/payload";
const std::string kJava = "/usr/bin/java";

class DemoProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Exists(kJava) || !Exists(kPayload + "/vantor.class")) {
      GTEST_SKIP() << "no Java runtime or no demo payload built";
    }
  }

  RunResult Installer(std::vector<std::string> args, const std::string& input = "") {
    RunOptions options;
    options.argv = {kJava, "-Djava.awt.headless=true", "-cp", kPayload, "vantor"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.cwd = kPayload;
    options.stdinText = input;
    return test::Run(options);
  }

  ScratchDir dir_;
};

TEST_F(DemoProgramTest, SilentInstallCopiesTheProductAndSavesItsAnswers) {
  WriteFile(dir_ / "answers", "target.dir=" + (dir_ / "product") + "\n");
  RunResult result = Installer({"-nodisplay", "-noconsole", "-state", dir_ / "answers",
                                "-saveState", dir_ / "saved"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("[2/3] bin/vantor-hello\n"), std::string::npos) << result.out;
  EXPECT_EQ(ReadFile(dir_ / "product/etc/vantor.conf"),
            ReadFile(kPayload + "/product/etc/vantor.conf"));
  // The launcher unpacks every file with mode 0700; the installer sets the real modes.
  struct stat info;
  ASSERT_EQ(stat((dir_ / "product/bin/vantor-hello").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  ASSERT_EQ(stat((dir_ / "product/README.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_NE(ReadFile(dir_ / "saved").find("target.dir=" + (dir_ / "product")),
            std::string::npos);
}

TEST_F(DemoProgramTest, FailuresEndWithAMessageAndNonZeroStatus) {
  RunResult silent = Installer({"-nodisplay", "-noconsole"});
  EXPECT_EQ(silent.exitCode, 1);
  EXPECT_NE(silent.err.find("needs a state file"), std::string::npos) << silent.err;

  // A target inside the working directory would vanish with the launcher's clean-up.
  WriteFile(dir_ / "inside", "target.dir=" + kPayload + "/installed\n");
  RunResult inside = Installer({"-nodisplay", "-noconsole", "-state", dir_ / "inside"});
  EXPECT_EQ(inside.exitCode, 1);
  EXPECT_FALSE(Exists(kPayload + "/installed"));

  RunResult noAnswer = Installer({"-nodisplay"});
  EXPECT_EQ(noAnswer.exitCode, 1);
  EXPECT_NE(noAnswer.err.find("end of input"), std::string::npos) << noAnswer.err;
}

TEST_F(DemoProgramTest, ConsoleModeAsksForTheTargetAndIdPrintsOnlyTheId) {
  RunResult console = Installer({"-nodisplay"}, "relative/dir\n" + (dir_ / "t") + "\n");
  ASSERT_EQ(console.exitCode, 0) << console.err;
  EXPECT_NE(console.out.find("Please give an absolute path."), std::string::npos);
  EXPECT_TRUE(Exists(dir_ / "t/README.txt"));

  RunResult id = Installer({"-nodisplay", "-id"});
  EXPECT_EQ(id.exitCode, 0);
  EXPECT_EQ(id.out, "vantor-demo-1.0\n");
}

}  // namespace
}  // namespace launcher::test

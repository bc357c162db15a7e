// Runs with a real Java virtual machine carried in the payload: the vantor class checks its
// properties, arguments, environment and current directory and answers with status 42.
// Each case takes at least 10 seconds.
#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

class RealJava : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
#ifndef E2E_REAL_JAVA_PAYLOAD
    GTEST_SKIP() << "built without javac and jlink";
#else
    WriteFile(installer, ReadFile(LauncherPath()) + ReadFile(E2E_REAL_JAVA_PAYLOAD), 0755);
#endif
  }

  void ExpectPassed(const RunResult& run) {
    EXPECT_EQ(run.exitCode, 42) << run.err;
    EXPECT_EQ(run.out,
              "Checking available disk space...\n"
              "Checking Java(TM) 2 Runtime Environment...\n"
              "Extracting Java(TM) 2 Runtime Environment files...\n"
              "Extracting installation files...\n"
              "Launching Java(TM) 2 Runtime Environment...\n"
              "vantor: all checks passed\n"
              "Deleting temporary files...\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(ListDir(tmp).empty()) << "working directory left behind";
    EXPECT_FALSE(Exists(LockPath(installer)));
  }
};

TEST_F(RealJava, ConsoleModeRunsTheInstallerProgramOnThePayloadRuntime) {
  ExpectPassed(Launch(Options({"-console", "-tmpdir", tmp},
                              {{"VANTOR_EXPECT_MODE", "console"},
                               {"VANTOR_EXPECT_TEMP_DIR", tmp}})));
}

TEST_F(RealJava, SilentModeHandsTheStateFileToTheInstallerProgram) {
  RunOptions options = Options({"-silent", "answers.state", "-tmpdir", tmp},
                               {{"VANTOR_EXPECT_MODE", "silent"},
                                {"VANTOR_EXPECT_TEMP_DIR", tmp},
                                {"VANTOR_EXPECT_STATE", scratch / "answers.state"}});
  options.cwd = scratch.path();
  ExpectPassed(Launch(options));
}

}  // namespace
}  // namespace launcher::e2e

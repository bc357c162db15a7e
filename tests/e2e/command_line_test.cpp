// The command line as a user meets it: help, option errors, and the early failure exits.
#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

class CommandLine : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    MakeInstaller(installer, StandardPayload());
  }
};

TEST_F(CommandLine, HelpPrintsUsageOnStderrAndExitsZero) {
  for (const char* word : {"-help", "-h"}) {
    RunResult run = Launch(Options({"-console", word, "-bogus"}));
    EXPECT_EQ(run.exitCode, 0) << word;
    EXPECT_EQ(run.out, "") << word;
    EXPECT_EQ(run.err, kUsage) << word;
  }
  EXPECT_TRUE(ListDir(tmp).empty()) << "help must not create a working directory";
  EXPECT_FALSE(Exists(LockPath(installer))) << "the lock file must go at a normal exit";
}

TEST_F(CommandLine, EveryOptionErrorPrintsItsMessageThenUsageAndExitsOne) {
  std::string file = scratch / "plain-file";
  WriteFile(file, "x");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"-silent"}, "Error: '-silent' must be followed by a file name.\n"},
      {{"-console", "-savestate"}, "Error: '-savestate' must be followed by a file name.\n"},
      {{"-javahome"},
       "Error: '-javahome' must be followed by a Java(TM) installation directory.\n"},
      {{"-tmpdir"}, "Error: '-tmpdir' must be followed by a writable directory.\n"},
      {{"-tmpdir", file}, "Error: '" + file + "' is not a writable directory.\n"},
      {{"-tmpdir", scratch / "missing"},
       "Error: '" + scratch / "missing" + "' is not a writable directory.\n"},
      {{"-Console"}, "Error: '-Console' is not a valid argument.\n"},
      {{"-console", "stray"}, "Error: 'stray' is not a valid argument.\n"},
      // Parsing stops at the first error: the later -help is never read.
      {{"-bogus", "-help"}, "Error: '-bogus' is not a valid argument.\n"},
  };
  for (const Case& c : cases) {
    RunResult run = Launch(Options(c.args));
    EXPECT_EQ(run.exitCode, 1) << c.message;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_EQ(run.err, c.message + kUsage);
  }
  EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(CommandLine, MissingDisplayInGraphicalModeNamesTheDefaultDisplay) {
  RunResult run = Launch(Options({}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Connecting to X11 server ':0.0'.\n");
  EXPECT_EQ(run.err,
            "Error: Cannot connect to X11 server ':0.0'.\n"
            "Check that the DISPLAY environment variable is correctly set or try\n"
            "rerunning this application with the following usage:\n"
            "    'setup' -console\n");
  EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(CommandLine, UnresolvableStartNameIsReportedBeforeAnythingElse) {
  RunOptions options = Options({"-console"});
  options.argv0 = "setup";  // a bare name, and PATH doesn't hold it
  RunResult run = Launch(options);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error: Could not resolve the absolute path of this application.\n");
}

TEST_F(CommandLine, NoRuntimeAnywhereEndsWithTheDownloadHint) {
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out,
            "Checking available disk space...\n"
            "Checking Java(TM) 2 Runtime Environment...\n"
            "Extracting Java(TM) 2 Runtime Environment files...\n");
  EXPECT_EQ(run.err,
            std::string("Error: Could not find the required version of the Java(TM) 2 "
                        "Runtime Environment.\n") + kNoJavaUsage);
  // A failure exit leaves the (empty) working directory in place.
  auto workdir = WorkDir();
  ASSERT_TRUE(workdir);
  EXPECT_TRUE(ListDir(*workdir).empty());
}

TEST_F(CommandLine, UnusableRelativeJavaHomeIsNamedAbsoluteWhenNothingElseIsFound) {
  MakeDirs(scratch / "nojava/bin");
  RunOptions options = Options({"-console", "-javahome", "nojava"});
  options.cwd = scratch.path();
  RunResult run = Launch(options);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error: Could not find the required version of the Java(TM) 2 Runtime "
                     "Environment in '" + scratch / "nojava" + "'.\n" + kNoJavaUsage);
}

TEST_F(CommandLine, UnsupportedRuntimeVersionIsNotChosen) {
  FakeRuntimeOptions old;
  old.versionText = "java version \"1.3.1\"\n";
  std::string home = Runtime("old", old);
  RunResult run = Launch(Options({"-console", "-javahome", home}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error: Could not find the required version of the Java(TM) 2 Runtime "
                     "Environment in '" + home + "'.\n" + kNoJavaUsage);
  EXPECT_FALSE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "old", old)).present);
}

}  // namespace
}  // namespace launcher::e2e

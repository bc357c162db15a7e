// The command-line parser on its own. Every case names -console or -silent, so that no
// toolkit is started.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/arguments.h"
#include "driver/jvm_options.h"
#include "host/tempdir.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::ScratchDir;

class ParseArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgName("/opt/inst/setup");
    ASSERT_EQ(::getcwd(cwd, sizeof cwd), cwd);
  }

  // Parses words; the JVM options it added are left in added.
  bool Parse(std::vector<const char*> words) {
    int before = GetNumOptions();
    bool go = ParseArguments(static_cast<int>(words.size()), words.data(), &arguments, &status);
    added.clear();
    for (int i = before; i < GetNumOptions(); ++i) added.push_back(GetOptions()[i].optionString);
    return go;
  }

  Arguments arguments;
  int status = -1;
  std::vector<std::string> added;
  char cwd[4096];
};

TEST_F(ParseArgumentsTest, ValueIsTheNextWordEvenWhenItLooksLikeAnOption) {
  ASSERT_TRUE(Parse({"-javahome", "-console", "-silent", "-id"}));
  EXPECT_EQ(arguments.javaHome, std::string(cwd) + "/-console");
  EXPECT_FALSE(arguments.console) << "-console was a value, not an option";
  EXPECT_EQ(arguments.javaArgs,
            (std::vector<std::string>{"-nodisplay", "-noconsole", "-state",
                                      std::string(cwd) + "/-id"}));
}

TEST_F(ParseArgumentsTest, AbsoluteValuesAreKeptAsGiven) {
  ASSERT_TRUE(Parse({"-console", "-javahome", "/opt/jdk", "-savestate", "/var/log/state"}));
  EXPECT_EQ(arguments.javaHome, "/opt/jdk");
  EXPECT_EQ(arguments.javaArgs,
            (std::vector<std::string>{"-nodisplay", "-saveState", "/var/log/state"}));
}

TEST_F(ParseArgumentsTest, RepeatedModesAddTheirJvmOptionEachTimeButArgumentsOnce) {
  ASSERT_TRUE(Parse({"-console", "-id", "-console", "-id"}));
  EXPECT_EQ(added, (std::vector<std::string>{"-Djava.awt.headless=true",
                                             "-Djava.awt.headless=true"}));
  EXPECT_EQ(arguments.javaArgs, (std::vector<std::string>{"-nodisplay", "-id"}));
  EXPECT_TRUE(arguments.console);
}

TEST_F(ParseArgumentsTest, HiddenSwitchesSetTheirFlagsWithoutJavaArguments) {
  ASSERT_TRUE(Parse({"-nodomain", "-silent", "s", "-debug", "-passwordvisible", "-noportcheck"}));
  EXPECT_TRUE(arguments.isDebug);
  EXPECT_TRUE(arguments.noPortVerification);
  EXPECT_TRUE(arguments.noDomainCreation);
  EXPECT_TRUE(arguments.visiblePassword);
  EXPECT_EQ(arguments.javaArgs.size(), 4u);
}

// A relative value handed on verbatim would name another directory once the run has
// changed into the working directory: temp.dir, the upgrade script path and the clean-up
// would all miss.
TEST_F(ParseArgumentsTest, RelativeTmpdirIsHandedOnAbsoluteAsStoredNotNormalised) {
  ScratchDir scratch;
  ASSERT_EQ(::chdir(scratch.path().c_str()), 0);
  ::mkdir("a", 0700);
  ::mkdir("tmp", 0700);
  bool go = Parse({"-console", "-tmpdir", "a", "-tmpdir", "tmp/../tmp/"});
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_TRUE(go);
  EXPECT_EQ(arguments.tempDir, scratch.path() + "/tmp/../tmp/") << "the later value wins";
  EXPECT_EQ(std::string(GetTempDir()), *arguments.tempDir);

  ASSERT_TRUE(Parse({"-console", "-tmpdir", scratch.path().c_str()}));
  EXPECT_EQ(arguments.tempDir, scratch.path()) << "an absolute value is kept as given";
}

TEST_F(ParseArgumentsTest, RejectedTmpdirHandsNothingBackAndKeepsTheStoredOne) {
  ScratchDir scratch;
  ASSERT_TRUE(Parse({"-console", "-tmpdir", scratch.path().c_str()}));
  std::string file = scratch / "file";
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  testing::internal::CaptureStderr();
  bool go = Parse({"-console", "-tmpdir", scratch.path().c_str(), "-tmpdir", file.c_str()});
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(go);
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(arguments.tempDir);
  EXPECT_EQ(err.rfind("Error: '" + file + "' is not a writable directory.\n", 0), 0u) << err;
  EXPECT_EQ(std::string(GetTempDir()), scratch.path());
}

TEST_F(ParseArgumentsTest, ErrorStopsWithStatusOneAndNothingHandedBack) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Parse({"-console", "-javahome", "/opt/jdk", "-savestate"}));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(arguments.javaHome) << "a stopped parse hands nothing back";
  EXPECT_TRUE(arguments.javaArgs.empty());
  EXPECT_EQ(err.rfind("Error: '-savestate' must be followed by a file name.\n"
                      "Usage: 'setup' [-options]\n", 0), 0u)
      << err;
}

TEST_F(ParseArgumentsTest, HelpStopsWithStatusZeroWherever) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Parse({"-console", "-id", "-h", "-bogus"}));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(err.rfind("Usage: 'setup' [-options]\n", 0), 0u) << err;
}

TEST_F(ParseArgumentsTest, RelativeValueWithoutCurrentDirectoryIsRefusedNotLooped) {
  ScratchDir scratch;
  std::string gone = scratch / "gone";
  ::mkdir(gone.c_str(), 0700);
  ASSERT_EQ(::chdir(gone.c_str()), 0);
  ::rmdir(gone.c_str());
  testing::internal::CaptureStderr();
  bool go = Parse({"-console", "-javahome", "jdk"});
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_FALSE(go);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.rfind("Error: 'jdk' is not a valid argument.\n", 0), 0u) << err;
}

}  // namespace
}  // namespace launcher

// Whole runs up to the Java process: what it is started with, and what is left afterwards.
// Each case takes at least 10 seconds (the launcher keeps its status up that long), so
// each stands alone for ctest -j.
#include <regex>

#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

class FullRun : public InstallerTest {
 protected:
  // Checks the working directory's name and returns it from the recorded properties.
  std::string RecordedWorkDir(const LaunchRecord& record) {
    auto workdir = Property(record, "java.io.tmpdir");
    EXPECT_TRUE(workdir);
    if (!workdir) return "";
    EXPECT_TRUE(std::regex_match(*workdir, std::regex(tmp + "/setup[A-Za-z0-9]{6}")))
        << *workdir;
    return *workdir;
  }

  // The launch with the contract's fixed options; extra JVM options come first, the
  // hidden switches' ones after "-Xmx256m".
  std::vector<std::string> ExpectedArgv(const std::string& home, const std::string& appHome,
                                        const std::string& workdir,
                                        std::vector<std::string> before,
                                        std::vector<std::string> after,
                                        std::vector<std::string> javaArgs) {
    std::vector<std::string> argv = {home + "/bin/java"};
    argv.insert(argv.end(), before.begin(), before.end());
    argv.insert(argv.end(), {"-Djava.io.tmpdir=" + workdir, "-Dtemp.dir=" + tmp,
                             "-Djava.class.path=" + appHome + ":" + appHome +
                                 "/package/PackageFormat.jar",
                             "-Djava.endorsed.dirs=", "-Xmx256m"});
    argv.insert(argv.end(), after.begin(), after.end());
    argv.push_back("vantor");
    argv.insert(argv.end(), javaArgs.begin(), javaArgs.end());
    return argv;
  }

  void ExpectNothingLeft() {
    EXPECT_TRUE(ListDir(tmp).empty()) << "working directory left behind";
    EXPECT_FALSE(Exists(LockPath(installer))) << "lock file left behind";
  }
};

TEST_F(FullRun, ConsoleRunStartsJavaInTheWorkDirAndReturnsItsStatus) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 3;
  std::string home = Runtime("jre", java);
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");

  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", java));
  ASSERT_TRUE(record.present);
  std::string workdir = RecordedWorkDir(record);
  EXPECT_EQ(record.argv, ExpectedArgv(home, workdir, workdir, {"-Djava.awt.headless=true"},
                                      {}, {"-nodisplay"}));
  EXPECT_EQ(record.cwd, workdir);
  auto env = record.env;
  env.erase("PWD");
  auto expectedEnv = BaseEnv(tmp);
  expectedEnv["JAVA_HOME"] = home;
  expectedEnv["LD_LIBRARY_PATH"] = workdir + "/package";
  EXPECT_EQ(env, expectedEnv);
  ExpectNothingLeft();
}

TEST_F(FullRun, SilentRunSharesOneAbsoluteStateFileAndOrdersRepeatedOptions) {
  MakeInstaller(installer, StandardPayload());
  std::string home = Runtime("jre");
  RunOptions options = Options({"-passwordvisible", "-silent", "a", "-debug", "-savestate", "b",
                                "-nodomain", "-id", "-silent", "c", "-noportcheck", "-id",
                                "-tmpdir", tmp},
                               {{"JAVA_HOME", home}});
  options.cwd = scratch.path();
  RunResult run = Launch(options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");

  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {}));
  ASSERT_TRUE(record.present);
  std::string workdir = RecordedWorkDir(record);
  std::string state = scratch / "c";
  EXPECT_EQ(record.argv,
            ExpectedArgv(home, workdir, workdir,
                         {"-Djava.awt.headless=true", "-Djava.awt.headless=true"},
                         {"-Ddebug=true", "-Dno.port.verification=true", "-Dno.domain=true",
                          "-Dpassword.visible=true"},
                         {"-nodisplay", "-noconsole", "-state", state, "-saveState", state,
                          "-id"}));
  ExpectNothingLeft();
}

TEST_F(FullRun, RelativeJavaHomeOfADevelopmentKitPutsItsToolsFirstOnTheClassPath) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions jdk;
  jdk.jdk = true;
  std::string home = Runtime("jdk", jdk);  // scratch/jdk/jre
  RunOptions options = Options({"-console", "-javahome", "jdk", "-tmpdir", tmp});
  options.cwd = scratch.path();
  RunResult run = Launch(options);
  EXPECT_EQ(run.exitCode, 0);
  // A usable -javahome skips the general search, and with it the payload runtime's line.
  EXPECT_EQ(run.out,
            "Checking available disk space...\n"
            "Checking Java(TM) 2 Runtime Environment...\n"
            "Extracting installation files...\n"
            "Launching Java(TM) 2 Runtime Environment...\n"
            "Deleting temporary files...\n");
  EXPECT_EQ(run.err, "");
  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jdk", jdk));
  ASSERT_TRUE(record.present);
  ASSERT_EQ(home, scratch / "jdk/jre");
  std::string workdir = RecordedWorkDir(record);
  EXPECT_EQ(record.argv.at(0), home + "/bin/java");
  EXPECT_EQ(Property(record, "java.class.path"),
            home + "/lib/tools.jar:" + home + "/classes:" + workdir + ":" + workdir +
                "/package/PackageFormat.jar");
  ExpectNothingLeft();
}

TEST_F(FullRun, UnusableJavaHomeFallsBackToTheSearchWithoutAMessage) {
  MakeInstaller(installer, StandardPayload());
  MakeDirs(scratch / "nojava");
  std::string home = Runtime("jre");
  RunResult run = Launch(Options({"-console", "-javahome", scratch / "nojava", "-tmpdir", tmp},
                                 {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");
  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {}));
  ASSERT_TRUE(record.present);
  EXPECT_EQ(record.argv.at(0), home + "/bin/java");
  ExpectNothingLeft();
}

TEST_F(FullRun, WithoutPayloadTheProgramBesideTheExecutableRuns) {
  MakeInstaller(installer, std::nullopt);
  WriteFile(scratch / "inst/vantor.class", "class bytes");
  WriteFile(scratch / "inst/package/PackageFormat.jar", "jar bytes");
  std::string home = Runtime("jre");
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "Checking available disk space...\n"
            "Checking Java(TM) 2 Runtime Environment...\n"
            "Launching Java(TM) 2 Runtime Environment...\n"
            "Deleting temporary files...\n");
  EXPECT_EQ(run.err, "");
  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {}));
  ASSERT_TRUE(record.present);
  std::string workdir = RecordedWorkDir(record);
  // Started by its absolute path, the executable is found as "/" + that path.
  std::string appHome = "/" + scratch / "inst";
  EXPECT_EQ(record.argv, ExpectedArgv(home, appHome, workdir, {"-Djava.awt.headless=true"}, {},
                                      {"-nodisplay"}));
  EXPECT_EQ(record.cwd, scratch / "inst");
  EXPECT_EQ(record.env["LD_LIBRARY_PATH"], appHome + "/package");
  EXPECT_TRUE(Exists(scratch / "inst/vantor.class")) << "the program beside must stay";
  ExpectNothingLeft();
}

// The payload runtime is written by the runtime search and left out of the payload
// extraction that follows; every entry must still be on disk when the program starts.
TEST_F(FullRun, PayloadRuntimeAndEveryOtherEntryAreThereWhenTheProgramStarts) {
  std::string listing = scratch / "listing";
  std::string java =
      "#!/bin/sh\n"
      "find . -type d | LC_ALL=C sort > '" + listing + "'\n"
      "find . -type f | LC_ALL=C sort | while read -r f; do\n"
      "  printf '%s=%s\\n' \"$f\" \"$(head -c 20 \"$f\")\" >> '" + listing + "'\n"
      "done\n";
  Entries entries = StandardPayload();
  entries.insert(entries.begin() + 1, {{"package/jre/bin/java", java},
                                       {"package/jrex/near.txt", "near"},
                                       {"package/jre/lib/i386/libjava.so", "so"}});
  entries.push_back({"package/jre/lib/rt.jar", "rt"});
  entries.push_back({"zz/last.txt", "last"});
  MakeInstaller(installer, entries);
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(Exists(listing)) << "the payload runtime was not started";
  EXPECT_EQ(ReadFile(listing),
            ".\n./package\n./package/jre\n./package/jre/bin\n./package/jre/lib\n"
            "./package/jre/lib/i386\n./package/jrex\n./zz\n"
            "./package/PackageFormat.jar=jar bytes\n"
            "./package/jre/bin/java=#!/bin/sh\nfind . -ty\n"
            "./package/jre/lib/i386/libjava.so=so\n"
            "./package/jre/lib/rt.jar=rt\n"
            "./package/jrex/near.txt=near\n"
            "./package/libPassword.so=library bytes\n"
            "./vantor.class=class bytes\n"
            "./zz/last.txt=last\n");
  ExpectNothingLeft();
}

// Started with 0, 1 and 2 closed, files opened later must not take those numbers (an
// extracted file would get the error text), and the program starts with all three open.
TEST_F(FullRun, ClosedStandardDescriptorsAreNeitherReusedNorPassedOnClosed) {
  MakeInstaller(installer, StandardPayload());
  std::string home = Runtime("jre");
  std::string copy = scratch / "copy";
  AddLaunchStep(home, "fds=; for f in 0 1 2; do [ -e /proc/$$/fd/$f ] && fds=$fds$f; done\n"
                      "echo $fds > '" + scratch / "fds" + "'; /usr/bin/cp -a . '" + copy + "'");
  RunOptions options = Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}});
  options.argv.insert(options.argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"});
  EXPECT_EQ(Launch(options).exitCode, 0);
  EXPECT_EQ(ReadFile(scratch / "fds"), "012\n");
  for (const auto& [name, content] : StandardPayload()) {
    EXPECT_EQ(ReadFile(copy + "/" + name), content) << name;
  }
  ExpectNothingLeft();
}

TEST_F(FullRun, UpgradeRequestRunsTheScriptFromTheTempDirAndRemovesIt) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 10;
  std::string home = Runtime("jre", java);
  std::string marks = scratch / "marks";
  MakeDirs(marks);
  // The installer program leaves the script in the directory that temp.dir names.
  AddUpgradeScript(home, "/usr/bin/env > " + marks + "/env\\npwd -P > " + marks +
                             "/cwd\\n/usr/bin/ls > " + marks + "/ls\\nexit 7\\n");
  RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
  EXPECT_EQ(run.exitCode, 10);
  EXPECT_EQ(run.out, kFullRunOutput);
  EXPECT_EQ(run.err, "");
  LaunchRecord record = ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", java));
  ASSERT_TRUE(record.present);
  std::string workdir = RecordedWorkDir(record);
  ASSERT_TRUE(Exists(marks + "/cwd")) << "the upgrade script did not run";
  EXPECT_EQ(ReadFile(marks + "/cwd"), workdir + "\n");
  EXPECT_NE(ReadFile(marks + "/ls").find("vantor.class"), std::string::npos)
      << "the script must run while the extracted files are still there";
  std::string env = ReadFile(marks + "/env");
  EXPECT_EQ(env.find("PATH="), std::string::npos) << "the script gets an empty environment";
  EXPECT_EQ(env.find("TMPDIR="), std::string::npos);
  ExpectNothingLeft();  // the script is removed with the working directory's parent clean
}

}  // namespace
}  // namespace launcher::e2e

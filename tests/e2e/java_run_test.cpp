// Runs that reach the Java program, which the launcher waits on for 10 seconds by design:
// each row is a test of its own, so that ctest -j runs them side by side.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "support/installer.h"

namespace launcher::test {
namespace {

const char kClassPath[] = "-Djava.class.path={work}:{work}/package/PackageFormat.jar";

// The launch: the mode's options, the fixed ones, the hidden switches', then the program's.
std::vector<std::string> Argv(std::vector<std::string> mode = {"-Djava.awt.headless=true"},
                              std::vector<std::string> after = {"vantor", "-nodisplay"},
                              const std::string& classPath = kClassPath) {
  mode.insert(mode.begin(), "{java}/bin/java");
  mode.insert(mode.end(), {"-Djava.io.tmpdir={work}", "-Dtemp.dir={tmp}", classPath, "-Djava.endorsed.dirs=", "-Xmx256m"});
  mode.insert(mode.end(), after.begin(), after.end());
  return mode;
}

// The launch leaves an upgrade script in the directory that temp.dir names, and asks for it.
std::string UpgradeScript(const std::string& lines) {
  return "for a; do case $a in -Dtemp.dir=*) t=${a#-Dtemp.dir=};; esac; done\n"
         "printf '#!/bin/sh\\n" + lines + "' > $t/UpgradeInvoker.sh; chmod 755 $t/UpgradeInvoker.sh; exit 10";
}

struct JavaRow {
  const char* name;  // the fault the row guards against
  std::vector<std::string> args;
  FakeJava java;
  int status;
  std::string out;
  std::vector<std::string> argv = Argv();  // as the fake Java recorded it
  Env env = {};
  std::function<void(const Outcome&, Installer&)> check = {};
  std::optional<std::string> payload = BuildZip(StandardPayload()).bytes;
};

void PrintTo(const JavaRow& row, std::ostream* os) { *os << row.name; }

const JavaRow kRows[] = {
    {"console run loses status, options, directory or environment; an empty library path gains an element",
     {"-console", "-tmpdir", "{tmp}"}, {.launch = "exit 3"}, 3, Status("djrxlc"), Argv(), {{"LD_LIBRARY_PATH", ""}},
     [](const Outcome& got, Installer& in) {
       EXPECT_EQ(got.java.cwd, got.java.Property("java.io.tmpdir"));
       EXPECT_EQ(got.java.env, (Env{{"PATH", "/usr/bin:/bin"}, {"LANG", "C"}, {"TMPDIR", in.tmp},
                                    {"JAVA_HOME", in.javaHome}, {"LD_LIBRARY_PATH", got.java.cwd + "/package"}}));
     }},
    {"silent run mixes up state files or option order",
     {"-passwordvisible", "-silent", "a", "-debug", "-savestate", "b", "-nodomain", "-id", "-silent", "c",
      "-noportcheck", "-id", "-tmpdir", "{tmp}"}, {}, 0, Status("djrxlc"),
     Argv({"-Djava.awt.headless=true", "-Djava.awt.headless=true"},
          {"-Ddebug=true", "-Dno.port.verification=true", "-Dno.domain=true", "-Dpassword.visible=true", "vantor",
           "-nodisplay", "-noconsole", "-state", "{dir}/c", "-saveState", "{dir}/c", "-id"})},
    {"JDK tools missing from the class path", {"-console", "-javahome", "jre", "-tmpdir", "{tmp}"}, {.jdk = true},
     0, Status("djxlc"), Argv({"-Djava.awt.headless=true"}, {"vantor", "-nodisplay"},
                              "-Djava.class.path={java}/lib/tools.jar:{java}/classes:{work}:{work}/package/PackageFormat.jar")},
    {"unusable -javahome stops the search; a set library path loses its value",
     {"-console", "-javahome", "{dir}/inst", "-tmpdir", "{tmp}"}, {}, 0, Status("djrxlc"), Argv(),
     {{"LD_LIBRARY_PATH", "/old"}}, [](const Outcome& got, Installer&) {
       EXPECT_EQ(got.java.env.at("LD_LIBRARY_PATH"), got.java.cwd + "/package:/old");
     }},
    {"stub without payload ignores the program beside it", {"-console", "-tmpdir", "{tmp}"}, {}, 0, Status("djlc"),
     Argv({"-Djava.awt.headless=true"}, {"vantor", "-nodisplay"},
          "-Djava.class.path=/{dir}/inst:/{dir}/inst/package/PackageFormat.jar"),
     {}, [](const Outcome& got, Installer& in) {
       EXPECT_EQ(got.java.cwd, in.dir + "/inst");  // started by its absolute path: "/" + that path
       EXPECT_EQ(got.java.env.at("LD_LIBRARY_PATH"), "/" + in.dir + "/inst/package");
     }, std::nullopt},
    {"upgrade script not run, run elsewhere or left behind", {"-console", "-tmpdir", "{tmp}"},
     {.launch = UpgradeScript("/usr/bin/env > ../../env; pwd -P > ../../cwd; /usr/bin/ls > ../../ls")}, 10,
     Status("djrxlc"), Argv(), {}, [](const Outcome& got, Installer& in) {
       // In the working directory, the files still there, without environment.
       EXPECT_EQ(ReadFile(in.dir + "/cwd"), got.java.cwd + "\n");
       EXPECT_NE(ReadFile(in.dir + "/ls").find("vantor.class"), std::string::npos);
       EXPECT_EQ(ReadFile(in.dir + "/env").find("PATH="), std::string::npos);
     }},
    {"closed standard descriptors reused by later files or passed on closed", {"@closed", "-console", "-tmpdir", "{tmp}"},
     {.launch = "for f in 0 1 2; do [ -e /proc/$$/fd/$f ] && printf $f; done > ../../fds; /usr/bin/cp -a . ../../copy"},
     0, "", Argv(), {}, [](const Outcome&, Installer& in) {
       EXPECT_EQ(ReadFile(in.dir + "/fds"), "012");
       for (const ZipItem& item : StandardPayload()) EXPECT_EQ(ReadFile(in.dir + "/copy/" + item.name), item.data);
     }},
    {"relative -tmpdir or TMPDIR handed on relative", {"-console", "-tmpdir", "tmp"},
     {.launch = UpgradeScript("pwd -P > ../../cwd")}, 10, Status("djrxlc"), Argv(), {{"TMPDIR", "tmp"}},
     [](const Outcome& got, Installer& in) {
       EXPECT_EQ(got.java.cwd.rfind(in.tmp + "/setup", 0), 0u) << got.java.cwd;
       EXPECT_TRUE(Exists(in.dir + "/cwd")) << "the upgrade script was not found";
     }},
};

class JavaRun : public ::testing::TestWithParam<JavaRow> {};

TEST_P(JavaRun, EndsAsTheRowSays) {
  const JavaRow& row = GetParam();
  Installer in(row.payload);
  in.UseJava(row.java);
  if (!row.payload) WriteFile(in.dir + "/inst/vantor.class", "class bytes");
  bool closed = row.args[0] == "@closed";  // started with descriptors 0, 1 and 2 closed
  RunOptions options = in.Options({row.args.begin() + closed, row.args.end()}, row.env);
  if (closed) options.argv.insert(options.argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"});
  options.cwd = in.dir;
  Outcome got = in.Finish(test::Run(options));
  EXPECT_EQ(got.run.exitCode, row.status);
  EXPECT_EQ(got.run.out, row.out);
  EXPECT_EQ(got.run.err, "");
  std::vector<std::string> argv;
  for (const std::string& arg : row.argv) argv.push_back(in.Expand(arg, &got.java));
  EXPECT_EQ(got.java.argv, argv);
  EXPECT_EQ(got.left, std::vector<std::string>{}) << "working directory or upgrade script left";
  EXPECT_FALSE(got.lockLeft);
  if (row.check) row.check(got, in);
}

INSTANTIATE_TEST_SUITE_P(Rows, JavaRun, ::testing::ValuesIn(kRows), [](const auto& row) { return std::to_string(row.index); });

// The runtime search writes the payload runtime and the extraction leaves it out: every
// entry must still be there when the program starts.
TEST(JavaRunSpecial, PayloadRuntimeAndEveryOtherEntryAreThereAtTheStart) {
  std::vector<ZipItem> entries = StandardPayload();
  entries.insert(entries.begin() + 1, {{.name = "package/jre/bin/java", .data = "#!/bin/sh\nfind | sort > ../../list\n"},
                                       {.name = "package/jrex/near", .data = "near"},
                                       {.name = "package/jre/lib/i386/libjava.so", .data = "so"}});
  Installer in(BuildZip(entries).bytes);
  Outcome got = in.Run({"-console"});
  EXPECT_EQ(got.run.out, Status("djrxlc"));
  EXPECT_EQ(ReadFile(in.dir + "/list"),
            ".\n./package\n./package/PackageFormat.jar\n./package/jre\n./package/jre/bin\n./package/jre/bin/java\n"
            "./package/jre/lib\n./package/jre/lib/i386\n./package/jre/lib/i386/libjava.so\n./package/jrex\n"
            "./package/jrex/near\n./package/libPassword.so\n./vantor.class\n");
}

// A real virtual machine in the payload: the vantor class checks what it was started with.
TEST(JavaRunSpecial, RealJavaGetsWhatItNeedsInConsoleAndSilentMode) {
#ifndef E2E_REAL_JAVA_JRE
  GTEST_SKIP() << "built without javac and jlink";
#else
  std::vector<ZipItem> entries = {{.name = "vantor.class", .data = ReadFile(E2E_REAL_JAVA_CLASS)},
                                  {.name = "package/PackageFormat.jar", .data = BuildZip({}).bytes}};
  for (const auto& file : std::filesystem::recursive_directory_iterator(E2E_REAL_JAVA_JRE)) {
    std::string path = file.path();
    if (file.is_regular_file()) entries.push_back({.name = "package/jre" + path.substr(sizeof E2E_REAL_JAVA_JRE - 1), .data = ReadFile(path)});
  }
  for (std::string mode : {"console", "silent"}) {
    Installer in(BuildZip(entries).bytes);
    RunOptions options = in.Options({"-" + mode, "answers", "-tmpdir", "{tmp}"},
                                    {{"VANTOR_EXPECT_MODE", mode}, {"VANTOR_EXPECT_STATE", "{dir}/answers"}});
    if (mode == "console") options.argv.erase(options.argv.begin() + 2);
    options.cwd = in.dir;
    Outcome got = in.Finish(test::Run(options));
    EXPECT_EQ(got.run.exitCode, 42) << got.run.err;
    EXPECT_EQ(got.run.out, Status("djrxl") + "vantor: all checks passed\n" + Status("c"));
    EXPECT_EQ(got.left, std::vector<std::string>{});
  }
#endif
}

bool AwaitJava(const Installer& in) {
  for (int i = 0; i < 6000 && !Exists(in.dir + "/jre/record.cwd"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Exists(in.dir + "/jre/record.cwd");
}

// SIGHUP is ignored by the launcher and stays so in the Java child; caught ones revert there.
TEST(JavaRunSpecial, HangupIsIgnoredAndCaughtSignalsAreResetInTheChild) {
  Installer in;
  in.UseJava({.launch = "/usr/bin/grep SigIgn /proc/$$/status > ../../sigign; exit 4"});
  Background run(in.Options({"-console"}));
  ASSERT_TRUE(AwaitJava(in));
  ::kill(run.pid(), SIGHUP);
  Outcome got = in.Finish(run.Wait());
  EXPECT_EQ(got.run.exitCode, 4);
  std::string line = ReadFile(in.dir + "/sigign");  // "SigIgn:\t<hex mask>\n"
  unsigned long long mask = std::strtoull(line.substr(line.find('\t') + 1).c_str(), nullptr, 16);
  for (int sig : {SIGHUP, SIGPWR, SIGWINCH, -SIGTERM, -SIGINT}) EXPECT_EQ(mask >> (std::abs(sig) - 1) & 1, sig > 0) << sig;
}

TEST(JavaRunSpecial, SecondRunOfTheSameFileIsRefusedAndTheFirstUndisturbed) {
  Installer in;
  in.UseJava({.launch = "exit 5"});
  Background first(in.Options({"-console"}));
  ASSERT_TRUE(AwaitJava(in));
  for (std::vector<std::string> args : {std::vector<std::string>{"-console"}, {"-help"}}) {
    RunResult second = test::Run(in.Options(args));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "Another installation process is already running. Exiting.\n");
  }
  Outcome got = in.Finish(first.Wait());
  EXPECT_EQ(got.run.exitCode, 5);
  EXPECT_EQ(got.run.out, Status("djrxlc"));
  EXPECT_FALSE(got.lockLeft);
}

// Signals while Java runs, or during extraction: the clean-up at once, and the signal's end.
TEST(JavaRunSpecial, SignalsCleanUpAndEndAsTheirKindSays) {
  std::vector<ZipItem> many = StandardPayload();
  for (int i = 0; i < 3000; ++i) many.push_back({.name = "data/" + std::to_string(i), .data = std::string(4096, 'b')});
  const std::tuple<int, int, bool> kCases[] = {{SIGTERM, 255, true}, {SIGINT, 255, true},  {SIGPIPE, 255, true},
                                               {SIGUSR1, 255, true}, {SIGSEGV, -SIGABRT, true}, {SIGSYS, -SIGABRT, true},
                                               {SIGINT, 255, false}};
  for (auto [sig, end, inJava] : kCases) {
    SCOPED_TRACE(sig);
    Installer in(BuildZip(inJava ? StandardPayload() : many).bytes);
    in.UseJava({.launch = "/usr/bin/sleep 60"});
    Background run(in.Options({"-console"}));
    for (int i = 0; !inJava && i < 30000 && (ListDir(in.tmp).empty() || !Exists(in.tmp + "/" + ListDir(in.tmp)[0] + "/data")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(!inJava || AwaitJava(in));
    ::kill(run.pid(), sig);
    Outcome got = in.Finish(run.Wait());
    ::kill(-run.pid(), SIGKILL);  // the Java child outlives a launcher ended by a signal
    EXPECT_EQ(end < 0 ? -got.run.signal : got.run.exitCode, end);
    EXPECT_EQ(got.run.out, Status(inJava ? "djrxlc" : "djrxc"));
    EXPECT_EQ(got.java.started, inJava);
    EXPECT_EQ(got.left, std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace launcher::test

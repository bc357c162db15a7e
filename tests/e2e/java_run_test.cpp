// Runs that reach the Java program, which the launcher waits on for 10 seconds by design:
// each row is a test of its own, so that ctest -j runs them side by side.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "support/installer.h"

namespace launcher::test {
namespace {

const char kClassPath[] = "-Djava.class.path={work}:{work}/package/PackageFormat.jar";

// The launch: the mode's options, the fixed ones, the hidden switches', then the program's.
std::vector<std::string> Argv(const std::string& classPath = kClassPath, std::vector<std::string> mode = {"-Djava.awt.headless=true"},
                              const std::vector<std::string>& after = {"vantor", "-nodisplay"}) {
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
  std::vector<std::string> args = {"-console", "-tmpdir", "{tmp}"};
  FakeJava java = {};
  int status = 0;
  std::string out = Status("djrxlc");
  std::vector<std::string> argv = Argv();  // as the fake Java recorded it
  Env env = {};
  std::function<void(const Outcome&, Installer&)> check = {};
  std::optional<std::string> payload = BuildZip(StandardPayload()).bytes;
};

void PrintTo(const JavaRow& row, std::ostream* os) { *os << row.name; }

const JavaRow kRows[] = {
    {.name = "console run loses status, options, directory or environment; an empty library path gains an element",
     .java = {.launch = "exit 3"}, .status = 3, .env = {{"LD_LIBRARY_PATH", ""}}, .check = [](const Outcome& got, Installer& in) {
       EXPECT_EQ(got.java.cwd, got.java.Property("java.io.tmpdir"));
       EXPECT_EQ(got.java.env, (Env{{"PATH", "/usr/bin:/bin"}, {"LANG", "C"}, {"TMPDIR", in.tmp}, {"JAVA_HOME", in.javaHome}, {"LD_LIBRARY_PATH", got.java.cwd + "/package"}}));
     }},
    {.name = "silent run mixes up state files or option order",
     .args = {"-passwordvisible", "-silent", "a", "-debug", "-savestate", "b", "-nodomain", "-id", "-silent", "c", "-noportcheck", "-id", "-tmpdir", "{tmp}"},
     .argv = Argv(kClassPath, {"-Djava.awt.headless=true", "-Djava.awt.headless=true"}, {"-Ddebug=true", "-Dno.port.verification=true", "-Dno.domain=true",
                  "-Dpassword.visible=true", "vantor", "-nodisplay", "-noconsole", "-state", "{dir}/c", "-saveState", "{dir}/c", "-id"})},
    {.name = "JDK tools missing from the class path", .args = {"-console", "-javahome", "jre", "-tmpdir", "{tmp}"}, .java = {.jdk = true},
     .out = Status("djxlc"), .argv = Argv("-Djava.class.path={java}/lib/tools.jar:{java}/classes:{work}:{work}/package/PackageFormat.jar")},
    {.name = "unusable -javahome stops the search; a set library path loses its value", .args = {"-console", "-javahome", "{dir}/inst", "-tmpdir", "{tmp}"},
     .env = {{"LD_LIBRARY_PATH", "/old"}}, .check = [](const Outcome& got, Installer&) { EXPECT_EQ(got.java.env.at("LD_LIBRARY_PATH"), got.java.cwd + "/package:/old"); }},
    {.name = "stub without payload ignores the program beside it", .out = Status("djlc"),  // started by its absolute path: "/" + that path
     .argv = Argv("-Djava.class.path=/{dir}/inst:/{dir}/inst/package/PackageFormat.jar"), .check = [](const Outcome& got, Installer& in) {
       EXPECT_EQ(std::tie(got.java.cwd, got.java.env.at("LD_LIBRARY_PATH")), std::make_tuple(in.dir + "/inst", "/" + in.dir + "/inst/package"));
     }, .payload = std::nullopt},
    {.name = "upgrade script not run, run elsewhere or left behind",  // in the working directory, the files still there, without environment
     .java = {.launch = UpgradeScript("/usr/bin/env > ../../env; pwd -P > ../../cwd; /usr/bin/ls > ../../ls")}, .status = 10, .check = [](const Outcome& got, Installer& in) {
       EXPECT_EQ(ReadFile(in.dir + "/cwd"), got.java.cwd + "\n");
       EXPECT_NE(ReadFile(in.dir + "/ls").find("vantor.class"), std::string::npos);
       EXPECT_EQ(ReadFile(in.dir + "/env").find("PATH="), std::string::npos);
     }},
    {.name = "closed standard descriptors reused by later files or passed on closed", .args = {"@closed", "-console", "-tmpdir", "{tmp}"},
     .java = {.launch = "for f in 0 1 2; do [ -e /proc/$$/fd/$f ] && printf $f; done > ../../fds; /usr/bin/cp -a . ../../copy"}, .out = "",
     .check = [](const Outcome&, Installer& in) {
       EXPECT_EQ(ReadFile(in.dir + "/fds"), "012");
       for (const ZipItem& item : StandardPayload()) EXPECT_EQ(ReadFile(in.dir + "/copy/" + item.name), item.data);
     }},
    {.name = "relative -tmpdir or TMPDIR handed on relative", .args = {"-console", "-tmpdir", "tmp"}, .java = {.launch = UpgradeScript("pwd -P > ../../cwd")},
     .status = 10, .env = {{"TMPDIR", "tmp"}}, .check = [](const Outcome& got, Installer& in) {
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
  EXPECT_EQ(std::tie(got.run.exitCode, got.run.out, got.run.err), std::make_tuple(row.status, row.out, std::string()));
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
                                       {.name = "package/jrex/near", .data = "near"}, {.name = "package/jre/lib/i386/libjava.so", .data = "so"}});
  Installer in(BuildZip(entries).bytes);
  EXPECT_EQ(in.Run({"-console"}).run.out, Status("djrxlc"));
  EXPECT_EQ(ReadFile(in.dir + "/list"),
            ".\n./package\n./package/PackageFormat.jar\n./package/jre\n./package/jre/bin\n./package/jre/bin/java\n"
            "./package/jre/lib\n./package/jre/lib/i386\n./package/jre/lib/i386/libjava.so\n./package/jrex\n"
            "./package/jrex/near\n./package/libPassword.so\n./vantor.class\n");
}

bool AwaitJava(const Installer& in) {
  for (int i = 0; i < 6000 && !Exists(in.dir + "/jre/record.cwd"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Exists(in.dir + "/jre/record.cwd");
}

// While Java runs, a second run of the same file is refused, and SIGHUP is ignored by the
// launcher and stays so in the Java child; caught signals revert there.
TEST(JavaRunSpecial, SecondRunIsRefusedHangupIgnoredAndCaughtSignalsResetInTheChild) {
  Installer in;
  in.UseJava({.launch = "/usr/bin/grep SigIgn /proc/$$/status > ../../sigign; exit 5"});
  Background first(in.Options({"-console"}));
  ASSERT_TRUE(AwaitJava(in));
  for (const char* arg : {"-console", "-help"}) {
    RunResult second = test::Run(in.Options({arg}));
    EXPECT_EQ(std::tie(second.exitCode, second.err), std::make_tuple(1, "Another installation process is already running. Exiting.\n"));
  }
  ::kill(first.pid(), SIGHUP);
  Outcome got = in.Finish(first.Wait());
  EXPECT_EQ(std::tie(got.run.exitCode, got.run.out), std::make_tuple(5, Status("djrxlc")));
  EXPECT_FALSE(got.lockLeft);
  std::string line = ReadFile(in.dir + "/sigign");  // "SigIgn:\t<hex mask>\n"
  unsigned long long mask = std::strtoull(line.substr(line.find('\t') + 1).c_str(), nullptr, 16);
  for (int sig : {SIGHUP, SIGPWR, SIGWINCH, -SIGTERM, -SIGINT}) EXPECT_EQ(mask >> (std::abs(sig) - 1) & 1, sig > 0) << sig;
}

// Signals while Java runs, or during extraction: the clean-up at once, and the signal's end.
TEST(JavaRunSpecial, SignalsCleanUpAndEndAsTheirKindSays) {
  std::vector<ZipItem> many = StandardPayload();
  for (int i = 0; i < 3000; ++i) many.push_back({.name = "data/" + std::to_string(i), .data = std::string(4096, 'b')});
  const std::tuple<int, int, bool> kCases[] = {{SIGTERM, 255, true}, {SIGINT, 255, true}, {SIGPIPE, 255, true}, {SIGUSR1, 255, true},
                                               {SIGSEGV, -SIGABRT, true}, {SIGSYS, -SIGABRT, true}, {SIGINT, 255, false}};
  for (auto [sig, end, inJava] : kCases) {
    SCOPED_TRACE(sig);
    Installer in(BuildZip(inJava ? StandardPayload() : many).bytes);
    in.UseJava({.launch = "/usr/bin/sleep 60"});
    Background run(in.Options({"-console"}));
    for (int i = 0; !inJava && i < 30000 && (ListDir(in.tmp).empty() || !Exists(in.tmp + "/" + ListDir(in.tmp)[0] + "/data")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(!inJava || AwaitJava(in));
    ::kill(run.pid(), sig);
    Outcome got = in.Finish(run.Wait());
    ::kill(-run.pid(), SIGKILL);  // the Java child outlives a launcher ended by a signal
    EXPECT_EQ(std::make_tuple(end < 0 ? -got.run.signal : got.run.exitCode, got.run.out, got.java.started, got.left),
              std::make_tuple(end, Status(inJava ? "djrxlc" : "djrxc"), inJava, std::vector<std::string>{}));
  }
}

}  // namespace
}  // namespace launcher::test

#include "runtime/launch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host/self_location.h"
#include "runtime/caches.h"
#include "support/child.h"
#include "support/fake_runtime.h"
#include "support/scratch.h"

extern char** environ;

namespace launcher {
namespace {

using test::Child;
using test::FakeRuntimeOptions;
using test::LaunchRecord;
using test::MakeFakeRuntime;
using test::ReadFile;
using test::ReadLaunchRecord;
using test::ScratchDir;
using test::WriteFile;

double Now() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void NoOp(int) {}

// One ExecuteJava run, made in a forked child so that several 10-second holds overlap.
struct LaunchCase {
  std::string name;
  FakeRuntimeOptions runtime;
  std::vector<std::string> options;
  std::vector<std::string> args;
  std::optional<std::string> libraryPath;  // LD_LIBRARY_PATH before the launch, or unset
  bool interruptHold = false;              // a caught signal arrives during the hold
};

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(scratch_ / "app/vantor.class", "class"); }

  std::string Dir(const LaunchCase& c) { return scratch_ / ("rt-" + c.name); }
  std::string RecordPath(const LaunchCase& c) { return Dir(c) + "/launch-record"; }

  // Starts the case; the child reports "<status> <seconds>" and its stderr goes to
  // <dir>/stderr.
  std::unique_ptr<Child> Start(const LaunchCase& c) {
    std::string home = MakeFakeRuntime(Dir(c), c.runtime);
    return std::make_unique<Child>([this, c, home] {
      int err = ::open((Dir(c) + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(err, 2);
      ::close(err);
      SetApplicationHome((scratch_ / "app").c_str());
      ForgetRuntimeCaches();
      if (::chdir((scratch_ / "app").c_str()) != 0) return std::string("chdir failed");
      if (c.libraryPath) {
        ::setenv("LD_LIBRARY_PATH", c.libraryPath->c_str(), 1);
      } else {
        ::unsetenv("LD_LIBRARY_PATH");
      }
      if (c.interruptHold) {
        struct sigaction action {};
        action.sa_handler = NoOp;  // no SA_RESTART: the sleep returns early
        ::sigaction(SIGALRM, &action, nullptr);
        ::alarm(2);
      }
      std::vector<std::string> strings = c.options;
      std::vector<JavaVMOption> options;
      for (auto& s : strings) options.push_back({s.data(), nullptr});
      std::vector<std::string> argStrings = c.args;
      std::vector<char*> args;
      for (auto& s : argStrings) args.push_back(s.data());
      args.push_back(nullptr);
      double start = Now();
      int status = ExecuteJava(home.c_str(), static_cast<int>(options.size()), options.data(),
                               static_cast<int>(argStrings.size()), args.data());
      return std::to_string(status) + " " + std::to_string(Now() - start);
    });
  }

  ScratchDir scratch_;
};

TEST_F(LaunchTest, MissingMainClassStopsBeforeAnyLaunch) {
  ::unlink((scratch_ / "app/vantor.class").c_str());
  LaunchCase c{"noclass", {}, {}, {}, {}, false};
  std::string report = Start(c)->Finish();
  EXPECT_EQ('1', report[0]) << report;
  EXPECT_LT(std::stod(report.substr(2)), 5.0) << "no hold without a launch";
  EXPECT_EQ("Error: There are no files requiring installation.\n", ReadFile(Dir(c) + "/stderr"));
  EXPECT_FALSE(ReadLaunchRecord(RecordPath(c)).present);
}

TEST_F(LaunchTest, NonExecutableJavaIsAnAbortWithoutHold) {
  LaunchCase c{"noexec", {}, {}, {}, {}, false};
  c.runtime.executableJava = false;
  std::string report = Start(c)->Finish();
  EXPECT_EQ('1', report[0]) << report;
  EXPECT_LT(std::stod(report.substr(2)), 5.0);
  EXPECT_EQ("Error: The Java(TM) Virtual Machine has aborted.\n", ReadFile(Dir(c) + "/stderr"));
}

TEST_F(LaunchTest, ReturnsJavaStatusAfterTheFullHold) {
  std::vector<LaunchCase> cases(7);
  cases[0].name = "exit0";
  cases[1].name = "exit3";
  cases[1].runtime.exitCode = 3;
  cases[2].name = "exit10";
  cases[2].runtime.exitCode = 10;
  cases[3].name = "exit255";
  cases[3].runtime.exitCode = 255;
  cases[4].name = "killed";
  cases[4].runtime.exitSignal = SIGKILL;
  cases[5].name = "interrupted";  // the hold restarts for the time that remained
  cases[5].runtime.exitCode = 4;
  cases[5].interruptHold = true;
  cases[6].name = "slow";  // outlives the hold: the launcher waits for it
  cases[6].runtime.exitCode = 5;
  cases[6].runtime.sleepSeconds = 12;
  std::vector<std::unique_ptr<Child>> children;
  for (const auto& c : cases) children.push_back(Start(c));

  const char* expected[] = {"0", "3", "10", "255", "1", "4", "5"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::string report = children[i]->Finish();
    std::size_t space = report.find(' ');
    ASSERT_NE(std::string::npos, space) << cases[i].name << ": " << report;
    EXPECT_EQ(expected[i], report.substr(0, space)) << cases[i].name;
    double seconds = std::stod(report.substr(space + 1));
    EXPECT_GE(seconds, i == 6 ? 12.0 : 10.0) << cases[i].name;
    EXPECT_TRUE(ReadLaunchRecord(RecordPath(cases[i])).present) << cases[i].name;
    EXPECT_EQ("", ReadFile(Dir(cases[i]) + "/stderr")) << cases[i].name;
  }
}

TEST_F(LaunchTest, ChildGetsExactArgumentsAndLibraryPath) {
  std::string package = scratch_ / "app/package";
  std::vector<LaunchCase> cases(4);
  cases[0] = {"bare", {}, {}, {}, std::nullopt, false};
  cases[1] = {"full", {}, {"-Djava.io.tmpdir=/w", "-Xmx256m"}, {"-nodisplay", "a b", ""},
              "/opt/lib:/usr/local/lib", false};
  cases[2] = {"empty", {}, {"-Dx="}, {}, "", false};
  // An interpreter that does not exist: exec fails in the child, which says so itself.
  cases[3] = {"badexec", {}, {}, {}, std::nullopt, false};
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < 3; ++i) children.push_back(Start(cases[i]));
  MakeFakeRuntime(Dir(cases[3]), cases[3].runtime);
  WriteFile(Dir(cases[3]) + "/bin/java", "#!/nonexistent/interpreter\n", 0755);
  std::string home = Dir(cases[3]);
  auto bad = std::make_unique<Child>([&, home] {
    int err = ::open((home + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, 2);
    SetApplicationHome((scratch_ / "app").c_str());
    return std::to_string(ExecuteJava(home.c_str(), 0, nullptr, 0, nullptr));
  });

  std::vector<std::vector<std::string>> argv = {
      {Dir(cases[0]) + "/bin/java", "vantor"},
      {Dir(cases[1]) + "/bin/java", "-Djava.io.tmpdir=/w", "-Xmx256m", "vantor", "-nodisplay",
       "a b", ""},
      {Dir(cases[2]) + "/bin/java", "-Dx=", "vantor"},
  };
  std::vector<std::string> libraryPath = {package, package + ":/opt/lib:/usr/local/lib",
                                          package};
  char cwd[4096];
  ASSERT_TRUE(::realpath((scratch_ / "app").c_str(), cwd));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ('0', children[i]->Finish()[0]) << cases[i].name;
    LaunchRecord record = ReadLaunchRecord(RecordPath(cases[i]));
    ASSERT_TRUE(record.present) << cases[i].name;
    EXPECT_EQ(argv[i], record.argv) << cases[i].name;
    EXPECT_EQ(libraryPath[i], record.env["LD_LIBRARY_PATH"]) << cases[i].name;
    EXPECT_EQ(cwd, record.cwd) << cases[i].name;
    // Nothing else in the inherited environment changes.
    std::vector<std::string> expected;
    for (char** entry = environ; *entry; ++entry) {
      std::string e = *entry;
      if (e.rfind("LD_LIBRARY_PATH=", 0) != 0 && e.rfind("PWD=", 0) != 0) expected.push_back(e);
    }
    std::vector<std::string> seen;
    for (const auto& e : record.environ) {
      if (e.rfind("LD_LIBRARY_PATH=", 0) != 0 && e.rfind("PWD=", 0) != 0) seen.push_back(e);
    }
    // The shell that runs the fake java lists its environment in an order of its own.
    std::sort(expected.begin(), expected.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(expected, seen) << cases[i].name;
  }
  EXPECT_EQ("1", bad->Finish());
  EXPECT_EQ("Error: The Java(TM) Virtual Machine has aborted.\n", ReadFile(home + "/stderr"));
}

}  // namespace
}  // namespace launcher

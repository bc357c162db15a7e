// Signals at the points where a user presses Ctrl-C, closes the terminal or the run is
// killed: the clean-up line, the working directory removed, and the right end.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdlib>

#include "e2e/e2e_support.h"
#include "host/unique_fd.h"

namespace launcher::e2e {
namespace {

constexpr char kUpToExtraction[] =
    "Checking available disk space...\n"
    "Checking Java(TM) 2 Runtime Environment...\n"
    "Extracting Java(TM) 2 Runtime Environment files...\n"
    "Extracting installation files...\n";

class Signals : public InstallerTest {
 protected:
  void TearDown() override {
    // Java children outlive a launcher that ends by a signal; they share its group.
    for (int group : groups) ::kill(-group, SIGKILL);
    InstallerTest::TearDown();
  }

  // Starts the installer and returns once its Java process has recorded its launch.
  std::unique_ptr<Background> StartUntilJavaRuns(const std::string& home,
                                                 const FakeRuntimeOptions& java) {
    auto run = std::make_unique<Background>(
        Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
    groups.push_back(run->pid());
    EXPECT_TRUE(WaitFor(FakeRuntimeRecordPath(scratch / "jre", java) + ".cwd"));
    return run;
  }

  std::vector<int> groups;
};

TEST_F(Signals, TerminationDuringTheJavaRunCleansUpAndExits255WithoutWaiting) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.sleepSeconds = 60;
  std::string home = Runtime("jre", java);
  // A reader that goes away (SIGPIPE) and a stray SIGUSR1 end the run like SIGTERM.
  for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGUSR1}) {
    ::unlink((FakeRuntimeRecordPath(scratch / "jre", java) + ".cwd").c_str());
    auto start = std::chrono::steady_clock::now();
    auto run = StartUntilJavaRuns(home, java);
    run->Signal(sig);
    RunResult result = run->Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8))
        << "the launcher must not wait for the Java process";
    EXPECT_EQ(result.exitCode, 255) << sig;
    EXPECT_EQ(result.out, std::string(kUpToExtraction) +
                              "Launching Java(TM) 2 Runtime Environment...\n"
                              "Deleting temporary files...\n");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(ListDir(tmp).empty()) << "working directory left behind after signal " << sig;
  }
}

TEST_F(Signals, TerminationDuringExtractionRemovesThePartialTree) {
  Entries payload = StandardPayload();
  std::string block(16384, '\0');
  for (int i = 0; i < 10000; ++i) payload.emplace_back("data/" + std::to_string(i), block);
  MakeInstaller(installer, payload);
  std::string home = Runtime("jre");
  for (int sig : {SIGINT, SIGTERM}) {
    Background run(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
    groups.push_back(run.pid());
    auto start = std::chrono::steady_clock::now();
    std::optional<std::string> workdir;
    while (!(workdir = WorkDir()) || !Exists(*workdir + "/data")) {
      ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.Signal(sig);
    RunResult result = run.Wait();
    EXPECT_EQ(result.exitCode, 255) << sig;
    EXPECT_EQ(result.out, std::string(kUpToExtraction) + "Deleting temporary files...\n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {})).present)
        << "the signal came too late to hit the extraction";
    EXPECT_TRUE(ListDir(tmp).empty()) << "partial extraction left behind after " << sig;
  }
}

TEST_F(Signals, FaultSignalCleansUpThenEndsByAbort) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.sleepSeconds = 60;
  std::string home = Runtime("jre", java);
  for (int sig : {SIGSEGV, SIGSYS}) {
    ::unlink((FakeRuntimeRecordPath(scratch / "jre", java) + ".cwd").c_str());
    auto run = StartUntilJavaRuns(home, java);
    run->Signal(sig);
    RunResult result = run->Wait();
    EXPECT_EQ(result.signal, SIGABRT) << sig;
    EXPECT_EQ(result.out, std::string(kUpToExtraction) +
                              "Launching Java(TM) 2 Runtime Environment...\n"
                              "Deleting temporary files...\n");
    EXPECT_TRUE(ListDir(tmp).empty()) << sig;
  }
}

// Takes at least 10 seconds: the run goes on to its normal end.
TEST_F(Signals, HangupIsIgnoredByTheLauncherAndTheJavaProcess) {
  MakeInstaller(installer, StandardPayload());
  FakeRuntimeOptions java;
  java.exitCode = 4;
  std::string home = Runtime("jre", java);
  std::string ignored = scratch / "sigign";
  AddLaunchStep(home, "/usr/bin/grep SigIgn /proc/$$/status > " + ignored);
  auto run = StartUntilJavaRuns(home, java);
  run->Signal(SIGHUP);
  RunResult result = run->Wait();
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out, kFullRunOutput);
  EXPECT_TRUE(ListDir(tmp).empty());

  std::string line = ReadFile(ignored);  // "SigIgn:\t<hex mask>\n"
  unsigned long long mask = std::strtoull(line.substr(line.find('\t') + 1).c_str(), nullptr, 16);
  auto bit = [](int sig) { return 1ULL << (sig - 1); };
  EXPECT_TRUE(mask & bit(SIGHUP)) << line;
  EXPECT_TRUE(mask & bit(SIGPWR)) << line;
  EXPECT_TRUE(mask & bit(SIGWINCH)) << line;
  EXPECT_FALSE(mask & bit(SIGTERM)) << "caught signals revert to default in the child";
  EXPECT_FALSE(mask & bit(SIGINT)) << line;
}

// A display that accepts the connection and never answers keeps the launcher in its
// command-line stage, before any working directory exists.
TEST_F(Signals, TerminationBeforeTheWorkDirExistsPrintsTheLineAndRemovesNothing) {
  MakeInstaller(installer, StandardPayload());
  std::string socketDir = "/tmp/.X11-unix";
  ::mkdir(socketDir.c_str(), 01777);
  int display = 700 + ::getpid() % 200;
  std::string socketPath = socketDir + "/X" + std::to_string(display);
  UniqueFd server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ::unlink(socketPath.c_str());
  ASSERT_EQ(::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(server.get(), 4), 0);

  std::string name = ":" + std::to_string(display);
  Background run(Options({"-tmpdir", tmp}, {{"DISPLAY", name}}));
  groups.push_back(run.pid());
  pollfd waiting = {server.get(), POLLIN, 0};
  bool connected = ::poll(&waiting, 1, 20000) == 1;
  UniqueFd client(connected ? ::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC) : -1);
  ::unlink(socketPath.c_str());
  if (!client.valid()) GTEST_SKIP() << "the toolkit never connected (no Motif library?)";
  run.Signal(SIGTERM);
  RunResult result = run.Wait();
  if (result.exitCode == 1) GTEST_SKIP() << "the toolkit could not be loaded: " << result.err;
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(result.out,
            "Connecting to X11 server '" + name + "'.\nDeleting temporary files...\n");
  EXPECT_TRUE(ListDir(tmp).empty());
}

}  // namespace
}  // namespace launcher::e2e

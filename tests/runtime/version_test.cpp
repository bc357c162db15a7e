#include "runtime/version.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include "support/fake_runtime.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::FakeRuntimeOptions;
using test::MakeFakeRuntime;
using test::ScratchDir;
using test::WriteFile;

TEST(CheckVersionTest, AcceptsOnlyTablePrefixesIncludingNearMisses) {
  for (const char* good : {"1.4.2_04", "1.4.1", "1.4.10", "1.4.9", "1.5.0_01", "1.5", "1.9.9"}) {
    EXPECT_EQ(1, CheckVersion(good)) << good;
  }
  for (const char* bad : {"1.4", "1.4.0", "1.4.0_99", "1.3.1", "1.10", "1.1", "2.0", "", "1"}) {
    EXPECT_EQ(0, CheckVersion(bad)) << bad;
  }
}

class ProbeTest : public ::testing::Test {
 protected:
  std::optional<std::string> Probe(const FakeRuntimeOptions& options) {
    std::string home = MakeFakeRuntime(scratch_ / "rt", options);
    return CheckJREVersion(home.c_str());
  }
  ScratchDir scratch_;
};

TEST_F(ProbeTest, TakesTextBetweenLastTwoQuotesOfFirstLine) {
  FakeRuntimeOptions options;
  options.versionText =
      "java version \"1.4.2_04\"\nJava(TM) 2 Runtime Environment \"1.3.1\"\n";
  EXPECT_EQ("1.4.2_04", Probe(options).value_or("<none>"));

  options.versionText = "openjdk \"x\" version \"1.5.0_01\" build\n";
  EXPECT_EQ("1.5.0_01", Probe(options).value_or("<none>"));

  // No quote at all: the whole first line is the version.
  options.versionText = "1.5.0\n";
  EXPECT_EQ("1.5.0", Probe(options).value_or("<none>"));

  // A single quote keeps only the text before it.
  options.versionText = "1.4.2 \"broken\n";
  EXPECT_EQ("1.4.2 ", Probe(options).value_or("<none>"));
  options.versionText = "java version \"1.4.2\n";
  EXPECT_FALSE(Probe(options));
}

TEST_F(ProbeTest, RefusesUnsupportedOrMisplacedReports) {
  FakeRuntimeOptions options;
  for (const char* version : {"1.4", "1.4.0", "1.3.1", "1.10"}) {
    options.versionText = std::string("java version \"") + version + "\"\n";
    EXPECT_FALSE(Probe(options)) << version;
  }

  options.versionText = "Warning: something odd\njava version \"1.4.2\"\n";
  EXPECT_FALSE(Probe(options)) << "version on a second line";

  options.versionText = "java version \"1.4.2\"\n";
  options.versionToStdout = true;
  EXPECT_FALSE(Probe(options)) << "standard output must be closed in the probe";

  options.versionToStdout = false;
  options.versionText = "";
  EXPECT_FALSE(Probe(options)) << "empty report";
}

TEST_F(ProbeTest, IgnoresExitCodeButRefusesSignalDeath) {
  FakeRuntimeOptions options;
  options.versionText = "java version \"1.4.1_07\"\n";
  options.versionExitCode = 1;
  EXPECT_EQ("1.4.1_07", Probe(options).value_or("<none>"));

  options.versionExitCode = 0;
  options.versionSignal = SIGKILL;
  EXPECT_FALSE(Probe(options));
  EXPECT_EQ(0, CheckJavaVersion((scratch_ / "rt").c_str()));
}

TEST_F(ProbeTest, FloodOfOutputCannotHangTheProbe) {
  FakeRuntimeOptions options;
  options.versionText = "java version \"1.4.2_04\"\n";
  options.versionFlood = true;  // 1 MB, far beyond a pipe's capacity
  timespec start, end;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ("1.4.2_04", Probe(options).value_or("<none>"));
  ::clock_gettime(CLOCK_MONOTONIC, &end);
  EXPECT_LT(end.tv_sec - start.tv_sec, 20);

  // The zero bytes after 512 bytes of text are never parsed.
  options.versionText = std::string(600, 'x');
  EXPECT_FALSE(Probe(options));
}

TEST_F(ProbeTest, DescendantKeepingThePipeOpenCannotHangTheProbe) {
  WriteFile(scratch_ / "rt/lib/i386/libjava.so", "");
  WriteFile(scratch_ / "rt/bin/java",
            "#!/bin/sh\necho 'java version \"1.4.2\"' >&2\n/usr/bin/sleep 10 &\nexit 0\n", 0755);
  timespec start, end;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ("1.4.2", CheckJREVersion((scratch_ / "rt").c_str()).value_or("<none>"));
  ::clock_gettime(CLOCK_MONOTONIC, &end);
  EXPECT_LT(end.tv_sec - start.tv_sec, 5);
}

TEST_F(ProbeTest, MissingHomeOrProgramGivesNoVersion) {
  EXPECT_FALSE(CheckJREVersion((scratch_ / "absent").c_str()));
  test::MakeDirs(scratch_ / "empty");
  EXPECT_FALSE(CheckJREVersion((scratch_ / "empty").c_str()));
  EXPECT_EQ(0, CheckJavaVersion((scratch_ / "empty").c_str()));
}

TEST_F(ProbeTest, ProbeSeesEmptyEnvironmentAndClosedStdinStdout) {
  ::setenv("LAUNCHER_PROBE_MARK", "1", 1);
  // Reports a supported version only when nothing but the shell's own PWD is set and
  // descriptors 0 and 1 are closed.
  WriteFile(scratch_ / "rt/lib/i386/libjava.so", "");
  WriteFile(scratch_ / "rt/bin/java",
            "#!/bin/sh\n"
            "extra=$(/usr/bin/env | /usr/bin/grep -v '^PWD=')\n"
            "if [ -n \"$extra\" ]; then echo \"\\\"env: $extra\\\"\" >&2; exit 0; fi\n"
            "if [ -e /proc/$$/fd/0 ] || [ -e /proc/$$/fd/1 ]; then\n"
            "  echo '\"stdin or stdout open\"' >&2; exit 0\n"
            "fi\n"
            "echo 'java version \"1.6.0\"' >&2\n",
            0755);
  EXPECT_EQ("1.6.0", CheckJREVersion((scratch_ / "rt").c_str()).value_or("<none>"));
  EXPECT_EQ(1, CheckJavaVersion((scratch_ / "rt").c_str()));
  ::unsetenv("LAUNCHER_PROBE_MARK");
}

}  // namespace
}  // namespace launcher

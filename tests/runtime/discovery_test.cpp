#include "runtime/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "driver/stages.h"
#include "host/self_location.h"
#include "runtime/caches.h"
#include "support/child.h"
#include "support/fake_runtime.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::Exists;
using test::FakeRuntimeOptions;
using test::MakeFakeRuntime;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

FakeRuntimeOptions Reporting(const std::string& version, bool jdk = false) {
  FakeRuntimeOptions options;
  options.versionText = "java version \"" + version + "\"\n";
  options.jdk = jdk;
  return options;
}

TEST(LayoutTest, FindsRuntimeHomeInDirectoryOrItsJre) {
  ScratchDir scratch;
  EXPECT_FALSE(GetJREPath((scratch / "jre").c_str()));
  MakeFakeRuntime(scratch / "jre");
  EXPECT_EQ(scratch / "jre", GetJREPath((scratch / "jre").c_str()).value_or("<none>"));

  FakeRuntimeOptions jdk;
  jdk.jdk = true;
  MakeFakeRuntime(scratch / "jdk", jdk);
  EXPECT_EQ(scratch / "jdk/jre", GetJREPath((scratch / "jdk").c_str()).value_or("<none>"));
}

TEST(LayoutTest, RefusesIncompleteRuntimes) {
  ScratchDir scratch;
  FakeRuntimeOptions options;
  options.withLibjava = false;
  MakeFakeRuntime(scratch / "nolib", options);
  EXPECT_FALSE(GetJREPath((scratch / "nolib").c_str()));

  options = {};
  options.executableJava = false;
  MakeFakeRuntime(scratch / "noexec", options);
  EXPECT_FALSE(GetJREPath((scratch / "noexec").c_str()));

  // A JDK whose runtime lacks bin/java: the jre subdirectory is chosen, then refused.
  WriteFile(scratch / "jdk/jre/lib/i386/libjava.so", "");
  WriteFile(scratch / "jdk/bin/java", "#!/bin/sh\n", 0755);
  EXPECT_FALSE(GetJREPath((scratch / "jdk").c_str()));

  // bin/java that is a directory is not executable.
  WriteFile(scratch / "dir/lib/i386/libjava.so", "");
  test::MakeDirs(scratch / "dir/bin/java");
  EXPECT_FALSE(GetJREPath((scratch / "dir").c_str()));
}

TEST(JdkTest, LooksForToolsJarBesideTheJreDirectory) {
  ScratchDir scratch;
  WriteFile(scratch / "jdk/lib/tools.jar", "");
  test::MakeDirs(scratch / "jdk/jre");
  EXPECT_EQ(1, IsJDK((scratch / "jdk/jre").c_str()));
  EXPECT_EQ(1, IsJDK((scratch / "jdk").c_str()));

  // Only a home ending exactly in "/jre" looks one level up.
  WriteFile(scratch / "other/jrex/../lib/tools.jar", "");
  EXPECT_EQ(0, IsJDK((scratch / "other/jrex").c_str()));
  WriteFile(scratch / "inner/jre/lib/tools.jar", "");
  EXPECT_EQ(0, IsJDK((scratch / "inner/jre").c_str()));
  EXPECT_EQ(1, IsJDK((scratch / "inner/jre/").c_str()));
  EXPECT_EQ(0, IsJDK("jre"));
}

// The search over a payload runtime in <scratch>/app/package/jre and installed runtimes
// reached through JAVA_HOME and PATH.
class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st;
    if (::stat("/usr/j2se", &st) == 0) GTEST_SKIP() << "/usr/j2se exists on this machine";
    if (const char* path = std::getenv("PATH")) savedPath_ = path;
    ::unsetenv("JAVA_HOME");
    ::unsetenv("PATH");
    SetApplicationHome((scratch_ / "app").c_str());
    ForgetRuntimeCaches();
  }
  void TearDown() override {
    ::unsetenv("JAVA_HOME");
    if (savedPath_) ::setenv("PATH", savedPath_->c_str(), 1);
  }

  // An installed runtime under name; returns the directory a PATH entry names.
  std::string Installed(const std::string& name, const std::string& version, bool jdk = false) {
    MakeFakeRuntime(scratch_ / name, Reporting(version, jdk));
    return jdk ? scratch_ / (name + "/jre/bin") : scratch_ / (name + "/bin");
  }
  // The payload runtime, never run for its version.
  void Payload(bool jdk) {
    MakeFakeRuntime(scratch_ / "app/package/jre", Reporting("1.3.1"));
    if (jdk) WriteFile(scratch_ / "app/package/lib/tools.jar", "");
  }
  std::string Chosen() {
    ForgetRuntimeCaches();
    return GetPublicJREPath().value_or("<none>");
  }

  ScratchDir scratch_;
  std::optional<std::string> savedPath_;
};

TEST_F(SearchTest, NothingQualifiesWithoutRuntimes) {
  EXPECT_EQ("<none>", Chosen());
  ::setenv("PATH", "", 1);
  EXPECT_EQ("<none>", Chosen());
}

TEST_F(SearchTest, PrefersPayloadJdkThenInstalledJdkThenPayloadJreThenInstalledJre) {
  std::string jre = Installed("jre19", "1.9.0");
  ::setenv("PATH", jre.c_str(), 1);
  EXPECT_EQ(scratch_ / "jre19", Chosen());

  Payload(false);
  EXPECT_EQ(scratch_ / "app/package/jre", Chosen()) << "payload JRE over installed JRE";

  std::string jdk = Installed("jdk", "1.4.1", true);
  ::setenv("PATH", (jre + ":" + jdk).c_str(), 1);
  EXPECT_EQ(scratch_ / "jdk/jre", Chosen()) << "installed JDK over payload JRE";

  Payload(true);
  EXPECT_EQ(scratch_ / "app/package/jre", Chosen()) << "payload JDK over everything";
}

TEST_F(SearchTest, LeavesOutInstalledRuntimesWithUnsupportedVersions) {
  std::string oldJdk = Installed("oldjdk", "1.3.1", true);
  std::string jre = Installed("jre", "1.4.2");
  ::setenv("PATH", (oldJdk + ":" + jre).c_str(), 1);
  EXPECT_EQ(scratch_ / "jre", Chosen());
}

TEST_F(SearchTest, HighestVersionWinsByByteOrderWhateverTheOrder) {
  std::string a = Installed("a", "1.4.2_9");
  std::string b = Installed("b", "1.4.2_10");
  std::string c = Installed("c", "1.4.1_07");
  ::setenv("PATH", (a + ":" + b + ":" + c).c_str(), 1);
  EXPECT_EQ(scratch_ / "a", Chosen());
  ::setenv("PATH", (c + ":" + b + ":" + a).c_str(), 1);
  EXPECT_EQ(scratch_ / "a", Chosen());
  ::setenv("PATH", (b + ":" + c).c_str(), 1);
  EXPECT_EQ(scratch_ / "b", Chosen());
}

TEST_F(SearchTest, LaterRuntimeWinsATieAndJavaHomeComesFirst) {
  std::string a = Installed("a", "1.4.2_04");
  std::string b = Installed("b", "1.4.2_04");
  std::string c = Installed("c", "1.4.2_04");
  ::setenv("PATH", (a + ":" + b).c_str(), 1);
  EXPECT_EQ(scratch_ / "b", Chosen());
  ::setenv("PATH", (b + ":" + a).c_str(), 1);
  EXPECT_EQ(scratch_ / "a", Chosen());

  // JAVA_HOME is searched before every PATH entry, so a PATH runtime wins the tie.
  ::setenv("JAVA_HOME", (scratch_ / "c").c_str(), 1);
  EXPECT_EQ(scratch_ / "a", Chosen());
  ::unsetenv("PATH");
  EXPECT_EQ(scratch_ / "c", Chosen());
}

TEST_F(SearchTest, SkipsRelativeAndEmptyPathEntries) {
  // The current directory holds a runtime and bin/java; entries without a '/' of their
  // own give no runtime and do not stop the walk.
  MakeFakeRuntime(scratch_ / "cwd", Reporting("1.4.2"));
  WriteFile(scratch_ / "cwd/java", ReadFile(scratch_ / "cwd/bin/java"), 0755);
  std::string good = Installed("good", "1.4.1");
  char saved[4096];
  ASSERT_TRUE(::getcwd(saved, sizeof saved));
  ASSERT_EQ(0, ::chdir((scratch_ / "cwd").c_str()));
  ::setenv("PATH", (":.:bin::" + good + ":").c_str(), 1);
  EXPECT_EQ(scratch_ / "good", Chosen());
  ::setenv("PATH", ":", 1);
  EXPECT_EQ("<none>", Chosen());
  ASSERT_EQ(0, ::chdir(saved));
}

TEST_F(SearchTest, PathEntryWithoutExecutableJavaIsPassedOver) {
  std::string good = Installed("good", "1.5.0");
  FakeRuntimeOptions broken = Reporting("1.9");
  broken.executableJava = false;
  MakeFakeRuntime(scratch_ / "broken", broken);
  ::setenv("PATH", ((scratch_ / "broken/bin") + ":" + good).c_str(), 1);
  EXPECT_EQ(scratch_ / "good", Chosen());
}

// An installer: a stub followed by a zip archive, as the packer makes it.
void MakeInstaller(const ScratchDir& scratch, bool withRuntime) {
  std::string tree = scratch / "tree";
  if (withRuntime) MakeFakeRuntime(tree + "/package/jre", Reporting("1.3.1"));
  WriteFile(tree + "/vantor.class", "class");
  WriteFile(scratch / "installer", "#!/bin/sh\nexit 0\n", 0755);
  std::string command =
      "cd '" + tree + "' && python3 -c \"import os, sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'a', zipfile.ZIP_DEFLATED) as z:\n"
      "    for root, dirs, files in os.walk('.'):\n"
      "        for f in sorted(files):\n"
      "            p = os.path.join(root, f)[2:]\n"
      "            z.write(p, p)\n\" '" + scratch / "installer" + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
}

// Captures what the body prints on standard output.
std::string CapturingStdout(const std::string& file, const std::function<void()>& body) {
  std::fflush(stdout);
  int saved = ::dup(1);
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 1);
  ::close(fd);
  body();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  return ReadFile(file);
}

TEST(BundledRuntimeTest, ExtractedFromThePayloadOnceAndKept) {
  ScratchDir scratch;
  MakeInstaller(scratch, true);
  std::string report = test::InChild([&] {
    std::string out;
    SetExecName((scratch / "installer").c_str());
    SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
    SetApplicationHome((scratch / "work").c_str());
    const char* first = nullptr;
    out += CapturingStdout(scratch / "out1", [&] { first = GetBundledJREPath(); });
    out += "|" + std::string(first ? first : "<none>") + "|";
    if (!first) return out;
    // A second call must not extract again: a changed file stays changed.
    WriteFile(scratch / "work/package/jre/bin/version.txt", "changed");
    const char* second = nullptr;
    out += CapturingStdout(scratch / "out2", [&] { second = GetBundledJREPath(); });
    out += second == first ? "same|" : "different|";
    out += ReadFile(scratch / "work/package/jre/bin/version.txt");
    out += Exists(scratch / "work/vantor.class") ? "|all extracted" : "|only the runtime";
    return out;
  });
  EXPECT_EQ("Extracting Java(TM) 2 Runtime Environment files...\n|" + (scratch / "work") +
                "/package/jre|same|changed|only the runtime",
            report);
}

// The payload extraction leaves the runtime's entries out only where this run wrote them
// all: a runtime found on disk, another directory or a failed extraction must not count.
TEST(BundledRuntimeTest, ReportsTheRuntimeExtractedOnlyWhereThisRunWroteIt) {
  ScratchDir scratch;
  MakeInstaller(scratch, true);
  std::string work = scratch / "work";
  std::string report = test::InChild([&] {
    std::string out;
    SetExecName((scratch / "installer").c_str());
    SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
    SetApplicationHome(work.c_str());
    out += std::to_string(PayloadRuntimeExtractedInto(work.c_str()));
    CapturingStdout(scratch / "out", [] { GetBundledJREPath(); });
    out += std::to_string(PayloadRuntimeExtractedInto(work.c_str()));
    out += std::to_string(PayloadRuntimeExtractedInto((work + "/").c_str()));
    out += std::to_string(PayloadRuntimeExtractedInto((scratch / "other").c_str()));
    out += std::to_string(PayloadRuntimeExtractedInto(nullptr));
    return out;
  });
  EXPECT_EQ("01000", report);

  report = test::InChild([&] {  // the runtime lies there already: nothing was extracted
    SetExecName((scratch / "installer").c_str());
    SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
    SetApplicationHome(work.c_str());
    CapturingStdout(scratch / "out", [] { GetBundledJREPath(); });
    return std::to_string(PayloadRuntimeExtractedInto(work.c_str()));
  });
  EXPECT_EQ("0", report);

  std::string command = "python3 -c \"import sys, zipfile\n"
                        "with zipfile.ZipFile(sys.argv[1], 'a') as z:\n"
                        "    z.writestr('package/jre/../../escape', 'x')\n\" '" +
                        scratch / "installer" + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  report = test::InChild([&] {
    SetExecName((scratch / "installer").c_str());
    SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
    SetApplicationHome((scratch / "fresh").c_str());
    const char* found = nullptr;
    CapturingStdout(scratch / "out", [&] { found = GetBundledJREPath(); });
    return std::string(found ? "found " : "none ") +
           std::to_string(PayloadRuntimeExtractedInto((scratch / "fresh").c_str()));
  });
  EXPECT_EQ("none 0", report);
}

TEST(BundledRuntimeTest, PayloadWithoutRuntimeAnnouncesEveryTimeAndFindsNothing) {
  ScratchDir scratch;
  MakeInstaller(scratch, false);
  std::string report = test::InChild([&] {
    SetExecName((scratch / "installer").c_str());
    SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
    SetApplicationHome((scratch / "work").c_str());
    ::unsetenv("JAVA_HOME");
    ::unsetenv("PATH");
    const char* found = nullptr;
    std::string out = CapturingStdout(scratch / "out", [&] {
      GetPublicJREPath();
      found = GetBundledJREPath();
    });
    return out + (found ? "found" : "none");
  });
  EXPECT_EQ(
      "Extracting Java(TM) 2 Runtime Environment files...\n"
      "Extracting Java(TM) 2 Runtime Environment files...\n"
      "none",
      report);
}

}  // namespace
}  // namespace launcher

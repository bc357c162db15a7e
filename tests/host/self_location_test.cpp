#include "host/self_location.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host/paths.h"
#include "support/child.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::InChild;
using test::MakeDirs;
using test::ScratchDir;
using test::Show;
using test::WriteFile;

std::string Found(const std::optional<std::string>& path) { return path ? *path : "(null)"; }

// FindExecName with PATH (unset when null) and the current directory set in a child.
std::string FindWith(const char* path, const std::string& cwd, const char* name) {
  return InChild([&] {
    if (path) {
      ::setenv("PATH", path, 1);
    } else {
      ::unsetenv("PATH");
    }
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return std::string("chdir failed");
    return Found(FindExecName(name));
  });
}

class ExecName : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(ExecName, AbsoluteNameGetsDoubledSlashAndMustBeExecutableFile) {
  WriteFile(dir / "bin/setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "bin/plain", "data", 0644);
  MakeDirs(dir / "bin/dir");
  EXPECT_EQ(Found(FindExecName((dir / "bin/setup").c_str())), "/" + dir.path() + "/bin/setup");
  EXPECT_EQ(Found(FindExecName((dir / "bin/plain").c_str())), "(null)");
  EXPECT_EQ(Found(FindExecName((dir / "bin/dir").c_str())), "(null)");
  EXPECT_EQ(Found(FindExecName((dir / "bin/missing").c_str())), "(null)");
}

TEST_F(ExecName, RelativeNameIsJoinedToCurrentDirectoryUnchanged) {
  WriteFile(dir / "setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "sub/tool", "#!/bin/sh\n", 0755);
  EXPECT_EQ(FindWith("/nonexistent", dir.path(), "./setup"), dir.path() + "/./setup");
  EXPECT_EQ(FindWith("/nonexistent", dir / "sub", "../sub/tool"), dir.path() + "/sub/../sub/tool");
  EXPECT_EQ(FindWith("/nonexistent", dir / "sub", "./setup"), "(null)");
}

TEST_F(ExecName, PathWalkTakesFirstExecutableInFieldOrder) {
  const std::string a = dir / "a", b = dir / "b", here = dir / "here";
  MakeDirs(a + "/setup");                          // a directory named like the program
  WriteFile(b + "/setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "c/setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "d/setup", "not executable", 0644);
  MakeDirs(here);
  std::string walk = a + "::" + dir.path() + "/d:" + b + ":" + dir.path() + "/c";
  EXPECT_EQ(FindWith(walk.c_str(), here, "setup"), b + "/setup");
  // An empty field is the current directory, tried in its place in the order.
  WriteFile(here + "/setup", "#!/bin/sh\n", 0755);
  EXPECT_EQ(FindWith(walk.c_str(), here, "setup"), "./setup");
  EXPECT_EQ(FindWith((b + ":").c_str(), here, "setup"), b + "/setup");
  EXPECT_EQ(FindWith((a + ":").c_str(), here, "setup"), "./setup");
  EXPECT_EQ(FindWith(a.c_str(), here, "setup"), "(null)");
  EXPECT_EQ(FindWith(nullptr, here, "setup"), "(null)");
}

TEST_F(ExecName, RemovedCurrentDirectoryEndsSearchWithNull) {
  MakeDirs(dir / "gone");
  std::string result = InChild([&] {
    if (::chdir((dir / "gone").c_str()) != 0 || ::rmdir((dir / "gone").c_str()) != 0) {
      return std::string("setup failed");
    }
    return Found(FindExecName("./setup")) + " " + Found(GetCurrentDirectory());
  });
  EXPECT_EQ(result, "(null) (null)");
}

TEST_F(ExecName, CurrentDirectoryLongerThanFirstBufferIsRead) {
  std::string deep = dir.path();
  while (deep.size() < 3000) deep += "/" + std::string(100, 'x');
  MakeDirs(deep);
  WriteFile(deep + "/setup", "#!/bin/sh\n", 0755);
  EXPECT_EQ(FindWith("/nonexistent", deep, "./setup"), deep + "/./setup");
}

TEST_F(ExecName, FirstSuccessIsCachedAndGivesApplicationHome) {
  WriteFile(dir / "inst/setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "other/setup", "#!/bin/sh\n", 0755);
  std::string result = InChild([&] {
    std::string log = Show(GetApplicationHome()) + " ";
    log += Show(SetExecName((dir / "missing").c_str())) + " ";
    log += Show(SetExecName((dir / "inst/setup").c_str())) + " ";
    log += Show(SetExecName((dir / "other/setup").c_str())) + " ";
    log += Show(GetApplicationHome()) + " ";
    SetApplicationHome("/work/dir");
    return log + Show(GetApplicationHome());
  });
  const std::string exec = "/" + dir.path() + "/inst/setup";
  EXPECT_EQ(result, "(null) (null) " + exec + " " + exec + " /" + dir.path() + "/inst /work/dir");
}

TEST_F(ExecName, ExecutableInRootDirectoryHasRootAsHome) {
  const std::string name = "launcher-root-test." + std::to_string(::getpid());
  const std::string path = "/" + name;
  if (::access("/", W_OK) != 0) GTEST_SKIP() << "the root directory is not writable";
  WriteFile(path, "#!/bin/sh\n", 0755);
  std::string result = InChild([&] {
    std::string exec = Show(SetExecName(path.c_str()));
    return exec + " " + Show(GetApplicationHome());
  });
  ::unlink(path.c_str());
  EXPECT_EQ(result, "/" + path + " /");
}

TEST(Paths, ResolveKeepsSlashesAsGiven) {
  EXPECT_EQ(Resolve("/tmp/", "x"), "/tmp//x");
  EXPECT_EQ(Resolve("", "x"), "/x");
  EXPECT_EQ(Resolve(nullptr, "x"), "x");
  EXPECT_FALSE(IsAbsolutePath(""));
  EXPECT_FALSE(IsAbsolutePath(nullptr));
}

}  // namespace
}  // namespace launcher

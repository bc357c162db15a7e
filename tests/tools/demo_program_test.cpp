// The demo installer program, run with a real Java runtime the way the launcher runs it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

TEST(DemoProgram, SilentInstallCopiesTheProductWithItsModesAndSavesItsAnswers) {
  const std::string payload = LAUNCHER_BINARY_DIR "/demo/payload";
  if (!Exists("/usr/bin/java") || !Exists(payload + "/vantor.class")) GTEST_SKIP() << "no Java or no demo";
  ScratchDir dir;
  WriteFile(dir / "answers", "target.dir=" + dir / "product" + "\n");
  RunResult run = test::Run({.argv = {"/usr/bin/java", "-Djava.awt.headless=true", "-cp", payload, "vantor", "-nodisplay",
                                "-noconsole", "-state", dir / "answers", "-saveState", dir / "saved"},
                       .cwd = payload});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(dir / "product/etc/vantor.conf"), ReadFile(payload + "/product/etc/vantor.conf"));
  struct stat info {};
  EXPECT_EQ(::stat((dir / "product/bin/vantor-hello").c_str(), &info) == 0 ? info.st_mode & 0777 : 0, 0755u) << "the launcher unpacks with 0700; the program sets modes";
  EXPECT_NE(ReadFile(dir / "saved").find("target.dir=" + dir / "product"), std::string::npos);
  EXPECT_NE(test::Run({.argv = {"/usr/bin/java", "-cp", payload, "vantor", "-nodisplay", "-noconsole"}, .cwd = payload}).exitCode, 0)
      << "silent mode without a state file must fail";
}

}  // namespace
}  // namespace launcher::test

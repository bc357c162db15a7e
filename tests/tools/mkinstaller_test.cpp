// mkinstaller as a user runs it: what it refuses, and what it packs.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "archive/zip.h"
#include "payload_scan.h"
#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

const std::string kStub = "#!/bin/sh\nexit 0\n";

struct Packer {
  Packer() {
    WriteFile(dir / "stub", kStub, 0755);
    WriteFile(dir / "payload/vantor.class", "not really a class");
    WriteFile(dir / "payload/product/bin/tool", "#!/bin/sh\n", 0755);
    WriteFile(dir / "payload/product/data.txt", std::string(20000, 'd'));
    MakeDirs(dir / "payload/empty");
    WriteFile(dir / "jre/bin/java", "#!/bin/sh\n", 0755);
    WriteFile(dir / "jre/lib/libjava.so", "fake library of 27 bytes...");
  }
  RunResult Run(std::vector<std::string> args, const std::string& output = "setup", Env env = {}) {
    RunOptions options;
    options.argv = {LAUNCHER_BINARY_DIR "/mkinstaller", "--launcher", dir / "stub", "-o", dir / output, dir / "payload"};
    options.argv.insert(options.argv.begin() + 1, args.begin(), args.end());
    env.emplace("PATH", "/usr/bin:/bin");
    options.env = env;
    return test::Run(options);
  }
  RunResult List() { return test::Run({.argv = {LAUNCHER_BINARY_DIR "/mkinstaller", "--list", dir / "setup"}}); }
  ScratchDir dir;
};

TEST(Mkinstaller, RefusesWhatCanOnlyFailLaterAndLeavesNoFile) {
  const std::tuple<const char*, std::function<void(Packer&)>, std::vector<std::string>, std::string> kRows[] = {
      {"no vantor.class at its root", [](Packer& p) { ::rename((p.dir / "payload/vantor.class").c_str(), (p.dir / "payload/empty/vantor.class").c_str()); }, {}, "setup"},
      {"is a directory", [](Packer& p) { MakeDirs(p.dir / "setup"); }, {}, "setup"},
      {"inside", [](Packer&) {}, {}, "payload/setup"},
      {"points outside", [](Packer& p) { WriteFile(p.dir / "secret", "x"); ::symlink("../../secret", (p.dir / "payload/product/out").c_str()); }, {}, "setup"},
      {"link to nothing", [](Packer& p) { ::symlink("missing", (p.dir / "payload/dangling").c_str()); }, {}, "setup"},
      {"link to a directory", [](Packer& p) { ::symlink("product", (p.dir / "payload/loop").c_str()); }, {}, "setup"},
      {"neither a regular file", [](Packer& p) { ::mkfifo((p.dir / "payload/fifo").c_str(), 0644); }, {}, "setup"},
      {"no executable bin/java", [](Packer& p) { ::unlink((p.dir / "jre/bin/java").c_str()); }, {"--jre", "{jre}"}, "setup"},
      {"already holds", [](Packer& p) { WriteFile(p.dir / "payload/package/jre/release", "x"); }, {"--jre", "{jre}"}, "setup"},
      {"SOURCE_DATE_EPOCH", [](Packer&) {}, {"--epoch"}, "setup"},
  };
  for (const auto& [cause, plant, args, output] : kRows) {
    SCOPED_TRACE(cause);
    Packer p;
    plant(p);
    std::vector<std::string> extra;
    Env env;
    for (const std::string& arg : args) {
      if (arg == "--epoch") {
        env["SOURCE_DATE_EPOCH"] = "yesterday";
      } else {
        extra.push_back(arg == "{jre}" ? p.dir / "jre" : arg);
      }
    }
    RunResult result = p.Run(extra, output, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
    for (const std::string& name : ListDir(p.dir.path())) EXPECT_EQ(name.rfind("setup.", 0), std::string::npos) << name;
    EXPECT_EQ(Exists(p.dir / output), std::string(cause) == "is a directory") << "a partial installer";
  }
  std::string error;
  std::vector<packer::PackEntry> entries(65535, packer::PackEntry{"f", "f", false, false, 1});
  EXPECT_FALSE(packer::CheckReaderLimits(entries, &error));
  entries.pop_back();
  EXPECT_TRUE(packer::CheckReaderLimits(entries, &error)) << error;
  EXPECT_FALSE(packer::CheckReaderLimits({{"big", "/data/big", false, false, 2147483648LL}}, &error));
}

// The same input gives the same bytes whatever the clock and zone; links inside the tree are
// stored as copies; a bundled runtime gains lib/i386/libjava.so; --list reads it all back.
TEST(Mkinstaller, PacksWhatTheLauncherReadsTheSameWayEveryTime) {
  Packer p;
  ASSERT_EQ(::symlink("product/data.txt", (p.dir / "payload/alias.txt").c_str()), 0);
  ASSERT_EQ(p.Run({"--jre", p.dir / "jre"}, "one").exitCode, 0);
  ASSERT_EQ(::utimes((p.dir / "payload/product/data.txt").c_str(), nullptr), 0);
  RunResult packed = p.Run({"--jre", p.dir / "jre"}, "setup", {{"TZ", "Asia/Tokyo"}});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_EQ(ReadFile(p.dir / "one"), ReadFile(p.dir / "setup"));
  struct stat info;
  ASSERT_EQ(::stat((p.dir / "setup").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(ReadFile(p.dir / "setup").substr(0, kStub.size()), kStub);
  RunResult listed = p.List();
  EXPECT_EQ(listed.out,
            "       20000  alias.txt\n           0  empty/\n           0  package/\n"
            "           0  package/jre/\n           0  package/jre/bin/\n"
            "          10  package/jre/bin/java\n           0  package/jre/lib/\n"
            "           0  package/jre/lib/i386/\n          27  package/jre/lib/i386/libjava.so\n"
            "          27  package/jre/lib/libjava.so\n           0  product/\n           0  product/bin/\n"
            "          10  product/bin/tool\n       20000  product/data.txt\n          18  vantor.class\n"
            "       40092  15 entries\n");
  WriteFile(p.dir / "plain.zip", ReadFile(p.dir / "setup").substr(kStub.size()));
  EXPECT_EQ(test::Run({.argv = {"/usr/bin/unzip", "-tq", p.dir / "plain.zip"}}).exitCode, 0);
}

}  // namespace
}  // namespace launcher::test

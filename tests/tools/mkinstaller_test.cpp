// mkinstaller run as a child process on payloads built in scratch directories.
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "payload_scan.h"
#include "support/process.h"
#include "support/scratch.h"
#include "support/zip.h"

namespace launcher::test {
namespace {

const std::string kPacker = std::string(LAUNCHER_BINARY_DIR) + "/mkinstaller";
const std::string kLauncher = std::string(LAUNCHER_BINARY_DIR) + "/launcher";
// The start of a class file for Java 8 (class-file version 52), 18 bytes in all.
const std::string kClass8 = std::string("\xCA\xFE\xBA\xBE\0\0\0\x34", 8) + "0123456789";

struct MkinstallerTest : ::testing::Test {
  void SetUp() override {
    WriteFile(dir_ / "stub", ReadFile(kLauncher), 0755), WriteFile(dir_ / "payload/vantor.class", kClass8);
    WriteFile(dir_ / "payload/product/bin/tool", "#!/bin/sh\necho tool\n", 0755);
    WriteFile(dir_ / "payload/product/data.txt", [] { std::string big; for (int i = 0; i < 20000; ++i) big += std::to_string(i) + "\n"; return big; }());
    MakeDirs(dir_ / "payload/empty");
  }

  RunResult Pack(std::vector<std::string> args, const std::string& output, Env env = {}) {
    args.insert(args.begin(), {kPacker, "--launcher", dir_ / "stub"});
    args.insert(args.end(), {"-o", output, dir_ / "payload"});
    for (std::string& arg : args) arg = arg.rfind("D/", 0) == 0 ? dir_ / arg.substr(2) : arg;  // "D/": the scratch directory
    env.emplace("PATH", "/usr/bin:/bin");
    return test::Run({.argv = args, .env = env});
  }

  ScratchDir dir_;
};

TEST_F(MkinstallerTest, SameInputGivesSameBytesWhateverClockAndZone) {
  ASSERT_EQ(Pack({}, dir_ / "one").exitCode, 0);
  // New file times and another zone must not reach the archive.
  ASSERT_EQ(utimes((dir_ / "payload/product/data.txt").c_str(), nullptr), 0);
  ASSERT_EQ(Pack({}, dir_ / "two", {{"TZ", "Asia/Tokyo"}}).exitCode, 0);
  EXPECT_EQ(ReadFile(dir_ / "one"), ReadFile(dir_ / "two"));
  for (const char* name : {"dated", "dated2"}) ASSERT_EQ(Pack({}, dir_ / name, {{"SOURCE_DATE_EPOCH", "1700000000"}}).exitCode, 0);
  EXPECT_NE(ReadFile(dir_ / "one"), ReadFile(dir_ / "dated"));
  EXPECT_EQ(ReadFile(dir_ / "dated"), ReadFile(dir_ / "dated2"));
  struct stat info {};
  EXPECT_EQ(stat((dir_ / "one").c_str(), &info) == 0 ? info.st_mode & 07777 : 0, 0755u);
}

TEST_F(MkinstallerTest, ArchiveIsOneTheLauncherReaderUnzipAndListAccept) {
  ASSERT_EQ(Pack({}, dir_ / "setup").exitCode, 0);
  const std::string installer = ReadFile(dir_ / "setup"), stub = ReadFile(kLauncher);
  ASSERT_EQ(installer.compare(0, stub.size(), stub), 0) << "stub not kept intact";
  // The launcher's reader knows only 32-bit fields: --list and --check read through it.
  WriteFile(dir_ / "plain.zip", installer.substr(stub.size()));
  RunResult unzip = test::Run({.argv = {"/usr/bin/unzip", "-t", dir_ / "plain.zip"}});
  EXPECT_EQ(unzip.exitCode, 0) << unzip.out << unzip.err;
  EXPECT_EQ(test::Run({.argv = {"/usr/bin/unzip", "-p", dir_ / "plain.zip", "product/data.txt"}}).out, ReadFile(dir_ / "payload/product/data.txt"));
  EXPECT_EQ(test::Run({.argv = {kPacker, "--check", dir_ / "setup"}}).exitCode, 0);

  RunResult listed = test::Run({.argv = {kPacker, "--list", dir_ / "setup"}});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  const size_t size = ReadFile(dir_ / "payload/product/data.txt").size();
  EXPECT_EQ(listed.out, "           0  empty/\n           0  product/\n           0  product/bin/\n          20  product/bin/tool\n      " +
                            std::to_string(size) + "  product/data.txt\n          18  vantor.class\n      " + std::to_string(size + 38) + "  6 entries\n");
  RunResult plain = test::Run({.argv = {kPacker, "--list", dir_ / "stub"}});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_NE(plain.err.find("no payload"), std::string::npos) << plain.err;
}

// A runtime of the given release file, with the files a runtime is known by.
void FakeJre(const std::string& dir, const std::string& release) {
  WriteFile(dir + "/bin/java", "#!/bin/sh\n", 0755), WriteFile(dir + "/lib/libjava.so", "fake library of 27 bytes...");
  if (!release.empty()) WriteFile(dir + "/release", release);
}

struct Refusal {
  const char* fault;
  std::function<void(const ScratchDir&)> prepare;  // spoils the fixture's good inputs
  std::vector<std::string> args;                   // "D/" stands for the scratch directory
  const char *output, *cause;                      // in the scratch directory; part of the message
  Env env = {};
};

const Refusal kRefusals[] = {
    {"main class nested, none at the root", [](const ScratchDir& d) { unlink((d / "payload/vantor.class").c_str()); WriteFile(d / "payload/sub/vantor.class", kClass8); }, {}, "setup", "no vantor.class at its root"},
    {"main class that is no class file", [](const ScratchDir& d) { WriteFile(d / "payload/vantor.class", "not really a class"); }, {}, "setup", "not a Java class file"},
    {"main class newer than the bundled runtime", [](const ScratchDir& d) { WriteFile(d / "payload/vantor.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x3D", 8)); FakeJre(d / "jre", "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"1.8.0_402\"\n"); }, {"--jre", "D/jre"}, "setup", "Java 17 (class-file version 61), newer than the bundled runtime (Java 8)"},
    {"stub that is no launcher", nullptr, {"--launcher", "/bin/ls"}, "setup", "not a launcher stub"},
    {"stub that is an installer already", [](const ScratchDir& d) { WriteFile(d / "payload/x", ""); }, {"--launcher", "D/first"}, "setup", "already carries a payload"},
    {"output onto the stub", nullptr, {}, "stub", "is the launcher stub itself"},
    {"output that is a directory", [](const ScratchDir& d) { MakeDirs(d / "setup"); }, {}, "setup", "is a directory"},
    {"output inside the payload", nullptr, {}, "payload/setup", "lie inside"},
    {"link leaving the payload", [](const ScratchDir& d) { WriteFile(d / "secret", "outside the payload"); symlink("../../secret", (d / "payload/product/escape").c_str()); }, {}, "setup", "points outside"},
    {"link to nothing", [](const ScratchDir& d) { symlink("missing", (d / "payload/dangling").c_str()); }, {}, "setup", "link to nothing"},
    {"link to a directory", [](const ScratchDir& d) { symlink("product", (d / "payload/loop").c_str()); }, {}, "setup", "link to a directory"},
    {"special file", [](const ScratchDir& d) { mkfifo((d / "payload/fifo").c_str(), 0644); }, {}, "setup", "neither a regular file"},
    {"runtime without bin/java", [](const ScratchDir& d) { WriteFile(d / "jre/lib/libjava.so", ""); }, {"--jre", "D/jre"}, "setup", "no executable bin/java"},
    {"payload with its own package/jre beside --jre", [](const ScratchDir& d) { FakeJre(d / "jre", ""); WriteFile(d / "payload/package/jre/release", "x"); }, {"--jre", "D/jre"}, "setup", "already holds"},
    {"malformed SOURCE_DATE_EPOCH", nullptr, {}, "setup", "SOURCE_DATE_EPOCH", {{"SOURCE_DATE_EPOCH", "yesterday"}}},
};

// Status 1, a message naming the cause, and nothing written: no output where there was none,
// an existing one unchanged, no temporary file left beside it.
TEST_F(MkinstallerTest, RefusesWhatCanOnlyFailLaterAndWritesNothing) {
  ASSERT_EQ(Pack({}, dir_ / "first").exitCode, 0);
  for (const Refusal& row : kRefusals) {
    SCOPED_TRACE(row.fault);
    if (row.prepare) row.prepare(dir_);
    const std::string output = dir_ / row.output, written = Exists(output + "/.") ? output + "/x" : output,
                      before = Exists(written) ? ReadFile(written) : "";
    RunResult result = Pack(row.args, output, row.env);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find(row.cause), std::string::npos) << result.err;
    EXPECT_EQ(Exists(written) ? ReadFile(written) : "", before);
    glob_t leftovers;
    EXPECT_EQ(glob((written + ".*").c_str(), 0, nullptr, &leftovers), GLOB_NOMATCH) << "a temporary output was left behind";
    globfree(&leftovers);
    // Back to the good inputs for the next row.
    for (const char* made : {"setup", "secret", "jre", "payload"}) RemoveTree(dir_ / made);
    SetUp();
  }
  // Only an installed runtime might run a newer class: packed, with a warning.
  WriteFile(dir_ / "payload/vantor.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x35", 8));
  RunResult packed = Pack({}, dir_ / "setup");
  EXPECT_EQ(packed.exitCode, 0);
  EXPECT_NE(packed.err.find("warning: " + (dir_ / "payload/vantor.class") + " is compiled for Java 9"), std::string::npos) << packed.err;
}

uint16_t Le16(const std::string& b, size_t at) { return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8); }

// Where the data of the entry named name begins, from its local header (the first place
// past the stub that holds the name).
size_t DataOf(const std::string& installer, const std::string& name) {
  const size_t header = installer.find(name, ReadFile(kLauncher).size()) - 30;
  return header + 30 + name.size() + Le16(installer, header + 28);
}

const std::pair<std::function<void(std::string&)>, const char*> kDamages[] = {  // the damage, part of --check's output
    {nullptr, "\nOK\n"},
    {[](std::string& b) { b[DataOf(b, "stored.raw") + 3] ^= 4; }, "\nstored.raw: content does not match its CRC-32"},
    {[](std::string& b) { b[DataOf(b, "product/data.txt") + 40] ^= 4; }, "\nproduct/data.txt: "},
    {[](std::string& b) { b[DataOf(b, "package/jre/bin/java") + 2] ^= 1; }, "\npackage/jre/bin/java: "},
    {[](std::string& b) { b.resize(b.size() - 100); }, ": no zip end record"},
    {[](std::string& b) { b += "garbage"; }, ": 7 bytes of trailing garbage after the zip end record"},
};

// A stored and deflated entries, so both kinds of entry are damaged.
TEST_F(MkinstallerTest, CheckNamesEveryDamageAndPassesAGoodInstaller) {
  const std::string good = ReadFile(kLauncher) + BuildZip({
      {.name = "vantor.class", .data = kClass8}, {.name = "stored.raw", .data = "stored content, long enough to flip"},
      {.name = "product/data.txt", .data = ReadFile(dir_ / "payload/product/data.txt"), .deflate = true},
      {.name = "package/jre/bin/java", .data = std::string(5000, 'j'), .deflate = true}}).bytes;
  for (const auto& [spoil, line] : kDamages) {
    SCOPED_TRACE(line);
    std::string bytes = good;
    WriteFile(dir_ / "setup", spoil ? (spoil(bytes), bytes) : bytes, 0755);
    RunResult checked = test::Run({.argv = {kPacker, "--check", dir_ / "setup"}});
    EXPECT_EQ(checked.exitCode, spoil ? 1 : 0);
    EXPECT_NE(checked.out.find(line), std::string::npos) << checked.out;
    EXPECT_EQ(checked.out.rfind(dir_ / "setup: launcher stub 1.", 0), 0u) << checked.out;
  }
}

// A link inside the payload is stored as its target's content. A runtime stands alone: what an
// installed JDK links to /etc is stored as content, and a link to nothing (Debian's lib/src.zip
// without the sources) is left out.
TEST_F(MkinstallerTest, LinksAreStoredAsContentAndTheRuntimeHasTheLibraryTheLauncherLooksFor) {
  ASSERT_EQ(symlink("product/data.txt", (dir_ / "payload/alias.txt").c_str()), 0);
  FakeJre(dir_ / "jre", "");
  WriteFile(dir_ / "etc/java.security", "security=1\n");
  MakeDirs(dir_ / "jre/conf");
  ASSERT_EQ(symlink((dir_ / "etc/java.security").c_str(), (dir_ / "jre/conf/java.security").c_str()), 0);
  ASSERT_EQ(symlink("../missing/src.zip", (dir_ / "jre/lib/src.zip").c_str()), 0);
  RunResult packed = Pack({"--jre", dir_ / "jre"}, dir_ / "setup");
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_NE(packed.err.find("lib/src.zip: symbolic link to nothing, left out"), std::string::npos) << packed.err;
  RunResult listed = test::Run({.argv = {kPacker, "--list", dir_ / "setup"}});
  EXPECT_EQ(listed.exitCode, 0);
  for (const std::string& line : std::vector<std::string>{"          27  package/jre/lib/i386/libjava.so\n", "          11  package/jre/conf/java.security\n", "  package/jre/bin/java\n",
                                 std::to_string(ReadFile(dir_ / "payload/product/data.txt").size()) + "  alias.txt\n"})
    EXPECT_NE(listed.out.find(line), std::string::npos) << line << listed.out;
  EXPECT_EQ(listed.out.find("src.zip"), std::string::npos) << listed.out;
}

TEST(PackerLimits, RefusesWhatA32BitZipCannotHold) {
  std::string error;
  std::vector<packer::PackEntry> entries(65534, packer::PackEntry{"f", "f", false, false, 1});
  EXPECT_TRUE(packer::CheckReaderLimits(entries, &error)) << error;
  entries.push_back(entries.back());
  EXPECT_FALSE(packer::CheckReaderLimits(entries, &error));
  EXPECT_NE(error.find("65534"), std::string::npos) << error;
  EXPECT_FALSE(packer::CheckReaderLimits({{"big", "/data/big", false, false, 2147483648LL}}, &error));
  EXPECT_NE(error.find("/data/big is 2147483648 bytes"), std::string::npos) << error;
}

}  // namespace
}  // namespace launcher::test

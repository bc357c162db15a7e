// mkinstaller run as a child process on payloads built in scratch directories.
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/zip.h"
#include "payload_scan.h"
#include "support/process.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

const std::string kPacker = std::string(LAUNCHER_BINARY_DIR) + "/mkinstaller";
const std::string kStub = "#!/bin/sh\n# stand-in for the launcher stub\nexit 0\n";

class MkinstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "stub", kStub, 0755);
    WriteFile(dir_ / "payload/vantor.class", "not really a class");
    WriteFile(dir_ / "payload/product/bin/tool", "#!/bin/sh\necho tool\n", 0755);
    std::string big;
    for (int i = 0; i < 20000; ++i) big += std::to_string(i) + "\n";
    WriteFile(dir_ / "payload/product/data.txt", big);
    MakeDirs(dir_ / "payload/empty");
  }

  RunResult Pack(std::vector<std::string> extra, const std::string& output,
                 std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.argv = {kPacker, "--launcher", dir_ / "stub"};
    options.argv.insert(options.argv.end(), extra.begin(), extra.end());
    options.argv.push_back("-o");
    options.argv.push_back(output);
    options.argv.push_back(dir_ / "payload");
    options.env = CurrentEnvironment();
    options.env->erase("SOURCE_DATE_EPOCH");
    for (const auto& [name, value] : env) (*options.env)[name] = value;
    return test::Run(options);
  }

  RunResult List(const std::string& installer) {
    RunOptions options;
    options.argv = {kPacker, "--list", installer};
    return test::Run(options);
  }

  // Status 1, a message naming the cause, and nothing left beside the refused output.
  void ExpectRefused(const RunResult& result, const std::string& cause,
                     const std::string& output) {
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
    EXPECT_FALSE(Exists(output));
    glob_t leftovers;
    EXPECT_EQ(glob((output + ".*").c_str(), 0, nullptr, &leftovers), GLOB_NOMATCH)
        << "a temporary output was left behind";
    globfree(&leftovers);
  }

  ScratchDir dir_;
};

uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// Extra-field ids of every header of one kind ("PK\1\2" central, "PK\3\4" local).
std::vector<uint16_t> ExtraIds(const std::string& zip, const std::string& signature,
                               size_t fixedSize, size_t nameAt, size_t extraAt) {
  std::vector<uint16_t> ids;
  for (size_t at = zip.find(signature); at != std::string::npos;
       at = zip.find(signature, at + 4)) {
    size_t field = at + fixedSize + Le16(zip, at + nameAt);
    size_t end = field + Le16(zip, at + extraAt);
    for (; field + 4 <= end; field += 4 + Le16(zip, field + 2)) ids.push_back(Le16(zip, field));
  }
  return ids;
}

TEST_F(MkinstallerTest, SameInputGivesSameBytesWhateverClockAndZone) {
  ASSERT_EQ(Pack({}, dir_ / "one").exitCode, 0);
  // New file times and another zone must not reach the archive.
  ASSERT_EQ(utimes((dir_ / "payload/product/data.txt").c_str(), nullptr), 0);
  ASSERT_EQ(Pack({}, dir_ / "two", {{"TZ", "Asia/Tokyo"}}).exitCode, 0);
  EXPECT_EQ(ReadFile(dir_ / "one"), ReadFile(dir_ / "two"));

  ASSERT_EQ(Pack({}, dir_ / "dated", {{"SOURCE_DATE_EPOCH", "1700000000"}}).exitCode, 0);
  EXPECT_NE(ReadFile(dir_ / "one"), ReadFile(dir_ / "dated"));
  ASSERT_EQ(Pack({}, dir_ / "dated2", {{"SOURCE_DATE_EPOCH", "1700000000"}}).exitCode, 0);
  EXPECT_EQ(ReadFile(dir_ / "dated"), ReadFile(dir_ / "dated2"));

  struct stat info;
  ASSERT_EQ(stat((dir_ / "one").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

TEST_F(MkinstallerTest, ArchiveIsOneTheLauncherReaderAndUnzipAccept) {
  ASSERT_EQ(Pack({}, dir_ / "setup").exitCode, 0);
  const std::string installer = ReadFile(dir_ / "setup");
  ASSERT_EQ(installer.compare(0, kStub.size(), kStub), 0) << "stub not kept intact";
  const std::string zip = installer.substr(kStub.size());

  // The reader knows only 32-bit fields: no ZIP64 extra (id 1), end record or locator.
  for (uint16_t id : ExtraIds(zip, "PK\1\2", 46, 28, 30)) EXPECT_NE(id, 1);
  for (uint16_t id : ExtraIds(zip, "PK\3\4", 30, 26, 28)) EXPECT_NE(id, 1);
  EXPECT_EQ(zip.find("PK\6\6"), std::string::npos);
  EXPECT_EQ(zip.find("PK\6\7"), std::string::npos);

  WriteFile(dir_ / "plain.zip", zip);
  RunOptions unzipOptions;
  unzipOptions.argv = {"/usr/bin/unzip", "-t", dir_ / "plain.zip"};
  RunResult unzip = test::Run(unzipOptions);
  EXPECT_EQ(unzip.exitCode, 0) << unzip.out << unzip.err;

  int32_t code = 0;
  ZipArchive* archive = zipOpen((dir_ / "setup").c_str(), &code);
  ASSERT_NE(archive, nullptr) << code;
  std::vector<std::string> names;
  for (int32_t i = 0; ZipEntry* entry = zipGetNextEntry(archive, i); ++i) {
    names.push_back(entry->name);
    zipFreeEntry(archive, entry);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"empty/", "product/", "product/bin/",
                                             "product/bin/tool", "product/data.txt",
                                             "vantor.class"}));
  ZipEntry* data = zipGetEntry(archive, "product/data.txt");
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(zipReadEntry(archive, data, (dir_ / "out.txt").c_str()), 1);
  zipFreeEntry(archive, data);
  zipClose(archive);
  EXPECT_EQ(ReadFile(dir_ / "out.txt"), ReadFile(dir_ / "payload/product/data.txt"));
}

TEST_F(MkinstallerTest, RefusesPayloadsTheLauncherCannotRun) {
  unlink((dir_ / "payload/vantor.class").c_str());
  MakeDirs(dir_ / "payload/sub");
  WriteFile(dir_ / "payload/sub/vantor.class", "nested is not the root");
  ExpectRefused(Pack({}, dir_ / "setup"), "no vantor.class at its root", dir_ / "setup");
}

TEST_F(MkinstallerTest, RefusesOutputThatIsADirectoryOrInsideThePayload) {
  MakeDirs(dir_ / "setup");
  RunResult result = Pack({}, dir_ / "setup");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("is a directory"), std::string::npos) << result.err;
  RemoveTree(dir_ / "setup");

  result = Pack({}, dir_ / "payload/setup");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("inside"), std::string::npos) << result.err;
  EXPECT_FALSE(Exists(dir_ / "payload/setup"));
}

TEST_F(MkinstallerTest, RefusesLinksLeavingThePayloadDanglingOrToDirectories) {
  WriteFile(dir_ / "secret", "outside the payload");
  ASSERT_EQ(symlink("../../secret", (dir_ / "payload/product/escape").c_str()), 0);
  ExpectRefused(Pack({}, dir_ / "setup"), "points outside", dir_ / "setup");
  unlink((dir_ / "payload/product/escape").c_str());

  ASSERT_EQ(symlink("missing", (dir_ / "payload/dangling").c_str()), 0);
  ExpectRefused(Pack({}, dir_ / "setup"), "link to nothing", dir_ / "setup");
  unlink((dir_ / "payload/dangling").c_str());

  ASSERT_EQ(symlink("product", (dir_ / "payload/loop").c_str()), 0);
  ExpectRefused(Pack({}, dir_ / "setup"), "link to a directory", dir_ / "setup");
}

TEST_F(MkinstallerTest, LinkInsideThePayloadIsStoredAsItsTargetContent) {
  ASSERT_EQ(symlink("product/data.txt", (dir_ / "payload/alias.txt").c_str()), 0);
  ASSERT_EQ(Pack({}, dir_ / "setup").exitCode, 0);
  RunResult listed = List(dir_ / "setup");
  const std::string size = std::to_string(ReadFile(dir_ / "payload/product/data.txt").size());
  EXPECT_NE(listed.out.find(size + "  alias.txt\n"), std::string::npos) << listed.out;
}

TEST_F(MkinstallerTest, BundledRuntimeGainsTheArchitectureLibraryTheLauncherLooksFor) {
  WriteFile(dir_ / "jre/bin/java", "#!/bin/sh\n", 0755);
  WriteFile(dir_ / "jre/lib/libjava.so", "fake library of 27 bytes...");
  ASSERT_EQ(Pack({"--jre", dir_ / "jre"}, dir_ / "setup").exitCode, 0);
  RunResult listed = List(dir_ / "setup");
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_NE(listed.out.find("          27  package/jre/lib/i386/libjava.so\n"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("  package/jre/bin/java\n"), std::string::npos);

  // A runtime without bin/java is no runtime; a payload with its own package/jre clashes.
  unlink((dir_ / "jre/bin/java").c_str());
  ExpectRefused(Pack({"--jre", dir_ / "jre"}, dir_ / "setup2"), "no executable bin/java",
                dir_ / "setup2");
  WriteFile(dir_ / "jre/bin/java", "#!/bin/sh\n", 0755);
  WriteFile(dir_ / "payload/package/jre/release", "x");
  ExpectRefused(Pack({"--jre", dir_ / "jre"}, dir_ / "setup2"), "already holds",
                dir_ / "setup2");
}

TEST_F(MkinstallerTest, ListShowsEverySizeAndRefusesFilesWithoutPayload) {
  ASSERT_EQ(Pack({}, dir_ / "setup").exitCode, 0);
  RunResult listed = List(dir_ / "setup");
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  const size_t data = ReadFile(dir_ / "payload/product/data.txt").size();
  const std::string expected =
      "           0  empty/\n"
      "           0  product/\n"
      "           0  product/bin/\n"
      "          20  product/bin/tool\n"
      "      " + std::to_string(data) + "  product/data.txt\n"
      "          18  vantor.class\n"
      "      " + std::to_string(data + 38) + "  6 entries\n";
  EXPECT_EQ(listed.out, expected);

  RunResult plain = List(dir_ / "stub");
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_NE(plain.err.find("no payload"), std::string::npos) << plain.err;
}

TEST_F(MkinstallerTest, RefusesMalformedSourceDateEpoch) {
  ExpectRefused(Pack({}, dir_ / "setup", {{"SOURCE_DATE_EPOCH", "yesterday"}}),
                "SOURCE_DATE_EPOCH", dir_ / "setup");
}

TEST(PackerLimits, RefusesWhatA32BitZipCannotHold) {
  std::string error;
  std::vector<packer::PackEntry> entries(65534, packer::PackEntry{"f", "f", false, false, 1});
  EXPECT_TRUE(packer::CheckReaderLimits(entries, &error)) << error;
  entries.push_back(entries.back());
  EXPECT_FALSE(packer::CheckReaderLimits(entries, &error));
  EXPECT_NE(error.find("65534"), std::string::npos) << error;

  std::vector<packer::PackEntry> huge{{"big", "/data/big", false, false, 2147483648LL}};
  EXPECT_FALSE(packer::CheckReaderLimits(huge, &error));
  EXPECT_NE(error.find("/data/big is 2147483648 bytes"), std::string::npos) << error;
}

}  // namespace
}  // namespace launcher::test

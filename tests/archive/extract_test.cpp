// Extraction into a directory: layout, modes, filtering, refused names, peer tools' archives.
#include "archive/extract.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>

#include "archive_fixture.h"
#include "support/process.h"
#include "zip_builder.h"

namespace launcher::test {
namespace {

// Every file and directory under root: relative path -> content, or "<dir>".
void Collect(const std::string& root, const std::string& relative,
             std::map<std::string, std::string>& tree) {
  DIR* dir = ::opendir((root + relative).c_str());
  if (!dir) return;
  while (dirent* item = ::readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    std::string path = relative + "/" + name;
    struct stat st;
    if (::lstat((root + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      tree[path] = "<dir>";
      Collect(root, path, tree);
    } else {
      tree[path] = ReadFile(root + path);
    }
  }
  ::closedir(dir);
}

std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  Collect(root, "", tree);
  return tree;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class ExtractTest : public ::testing::Test {
 protected:
  // Extracts an archive of these entries into T; returns UnzipFiles' result.
  int Unzip(const std::vector<ZipItem>& entries, const char* prefix = nullptr) {
    ZipHandle archive(zipOpen(Store(dir_, BuildZip(entries, "stub").bytes).c_str(), nullptr));
    EXPECT_TRUE(archive);
    return archive ? UnzipFiles(archive.get(), target_.c_str(), prefix) : -1;
  }
  ScratchDir dir_;
  std::string target_ = dir_ / "T";
};

TEST_F(ExtractTest, CreatesParentsAndFilesWithMode0700WhateverTheUmask) {
  for (mode_t mask : {mode_t{022}, mode_t{077}}) {
    RemoveTree(target_);
    mode_t old = ::umask(mask);
    int result = Unzip({{.name = "package/"},
                        {.name = "a/b/c.txt", .data = "c", .deflate = true},
                        {.name = "setup", .data = "#!/bin/sh\n"}});
    ::umask(old);
    EXPECT_EQ(result, 1);
    for (const char* dir : {"", "/a", "/a/b", "/package"}) {
      EXPECT_EQ(ModeOf(target_ + dir), S_IFDIR | 0700) << dir;
    }
    EXPECT_EQ(ModeOf(target_ + "/a/b/c.txt"), S_IFREG | 0700);
    EXPECT_EQ(ModeOf(target_ + "/setup"), S_IFREG | 0700);
    EXPECT_EQ(Tree(target_).size(), 5u) << "the directory entry writes no file";
  }
}

TEST_F(ExtractTest, ReplacesAFileThatStandsWhereADirectoryMustBe) {
  WriteFile(target_ + "/a", "in the way");
  EXPECT_EQ(Unzip({{.name = "a/x", .data = "x"}}), 1);
  EXPECT_EQ(ReadFile(target_ + "/a/x"), "x");
}

// A directory chain is made once for a run of entries in the same directory; a chain that
// only nearly matches the last one, or that a file of an earlier entry blocks, is made anew.
TEST_F(ExtractTest, EntriesInNearlyTheSameDirectoryEachGetTheirWholeChain) {
  EXPECT_EQ(Unzip({{.name = "a/x", .data = "1"},
                   {.name = "a/b", .data = "file in the way"},
                   {.name = "a/b/c", .data = "2"},
                   {.name = "a/b/d", .data = "3"},
                   {.name = "ab/e", .data = "4"},
                   {.name = "top", .data = "5"},
                   {.name = "a/b/", .data = ""},
                   {.name = "a/b/f", .data = "6"},
                   {.name = "a/y", .data = "7"},
                   {.name = "q/r/", .data = ""},
                   {.name = "q/r/s/t", .data = "8"},
                   {.name = "q/r/s/u", .data = "9"}}), 1);
  EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{
                               {"/a", "<dir>"}, {"/a/x", "1"}, {"/a/y", "7"},
                               {"/a/b", "<dir>"}, {"/a/b/c", "2"}, {"/a/b/d", "3"},
                               {"/a/b/f", "6"}, {"/ab", "<dir>"}, {"/ab/e", "4"},
                               {"/top", "5"}, {"/q", "<dir>"}, {"/q/r", "<dir>"},
                               {"/q/r/s", "<dir>"}, {"/q/r/s/t", "8"}, {"/q/r/s/u", "9"}}));
}

TEST_F(ExtractTest, PrefixFilterTouchesNothingElse) {
  std::vector<ZipItem> entries = {{.name = "setup", .data = "s"},
                                  {.name = "package/jrex", .data = "near"},
                                  {.name = "package/jre/bin/java", .data = "j"}};
  EXPECT_EQ(Unzip({{.name = "setup", .data = "s"}}, "package/jre"), 1);
  EXPECT_FALSE(Exists(target_)) << "no match creates not even the target";
  EXPECT_EQ(Unzip(entries, "package/jre/"), 1);
  EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{
                               {"/package", "<dir>"},
                               {"/package/jre", "<dir>"},
                               {"/package/jre/bin", "<dir>"},
                               {"/package/jre/bin/java", "j"}}));
}

// The launcher writes the payload runtime first and then everything else; the two passes
// must leave exactly the tree that one full pass leaves.
TEST_F(ExtractTest, ExcludingAPrefixAfterExtractingItEqualsOneFullPass) {
  std::vector<ZipItem> entries = {{.name = "vantor.class", .data = "main"},
                                  {.name = "package/"},
                                  {.name = "package/jre/bin/java", .data = "j", .deflate = true},
                                  {.name = "package/jrex", .data = "near"},
                                  {.name = "package/lib.so", .data = "lib"},
                                  {.name = "package/jre/lib/i386/libjava.so", .data = "so"}};
  ZipHandle archive(zipOpen(Store(dir_, BuildZip(entries, "stub").bytes).c_str(), nullptr));
  ASSERT_TRUE(archive);
  std::string full = dir_ / "full";
  ASSERT_EQ(UnzipFiles(archive.get(), full.c_str(), nullptr), 1);
  ASSERT_EQ(UnzipFiles(archive.get(), target_.c_str(), "package/jre"), 1);
  ASSERT_EQ(UnzipFilesExcept(archive.get(), target_.c_str(), "package/jre"), 1);
  EXPECT_EQ(Tree(target_), Tree(full));

  RemoveTree(target_);
  ASSERT_EQ(UnzipFilesExcept(archive.get(), target_.c_str(), "package/jre"), 1);
  EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{{"/package", "<dir>"},
                                                               {"/package/lib.so", "lib"},
                                                               {"/vantor.class", "main"}}));
}

TEST_F(ExtractTest, ExcludedEntriesAreNotReadButOtherFailuresStillCount) {
  ZipItem broken = {.name = "package/jre/bad", .data = "text", .method = 8,
                    .stored = "\xff\xff\xff"};
  ZipHandle archive(zipOpen(Store(dir_, BuildZip({{.name = "a", .data = "1"}, broken,
                                               {.name = "b", .data = "2"}}, "stub").bytes)
                             .c_str(), nullptr));
  ASSERT_TRUE(archive);
  EXPECT_EQ(UnzipFilesExcept(archive.get(), target_.c_str(), "package/jre"), 1);
  EXPECT_EQ(ReadFile(target_ + "/b"), "2");
  EXPECT_EQ(UnzipFilesExcept(archive.get(), target_.c_str(), "b"), 0);
  EXPECT_EQ(UnzipFilesExcept(archive.get(), target_.c_str(), nullptr), 0);
}

TEST_F(ExtractTest, EmptyArchiveAndNullArgumentsCreateNothing) {
  ZipHandle archive(zipOpen(Store(dir_, EndOnly("stub")).c_str(), nullptr));
  ASSERT_TRUE(archive);
  EXPECT_EQ(UnzipFiles(archive.get(), target_.c_str(), nullptr), 1);
  EXPECT_EQ(UnzipFiles(archive.get(), nullptr, nullptr), 0);
  EXPECT_EQ(UnzipFiles(nullptr, target_.c_str(), nullptr), 0);
  EXPECT_FALSE(Exists(target_));
}

TEST_F(ExtractTest, NamesLongerThanThePathBufferAreWrittenWhole) {
  std::string name;
  for (int i = 0; i < 12; ++i) name += std::string(200, static_cast<char>('a' + i)) + "/";
  std::string longer = name + "leaf";
  EXPECT_EQ(Unzip({{.name = "short", .data = "1"},
                   {.name = longer, .data = "deep"},
                   {.name = "after", .data = "2"}}), 1);
  EXPECT_EQ(ReadFile(target_ + "/" + longer), "deep");
  EXPECT_EQ(ReadFile(target_ + "/after"), "2");
}

TEST_F(ExtractTest, RefusesNamesThatLeaveTheTargetDirectory) {
  for (const char* bad : {"/abs", "..", "../escape", "a/../../escape", "a/..", "a/../b"}) {
    SCOPED_TRACE(bad);
    RemoveTree(target_);
    EXPECT_EQ(Unzip({{.name = "first", .data = "1"},
                     {.name = bad, .data = "bad"},
                     {.name = "after", .data = "2"}}), 0);
    EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{{"/first", "1"}}));
    EXPECT_FALSE(Exists(dir_ / "escape"));
  }
  RemoveTree(target_);
  EXPECT_EQ(Unzip({{.name = "..a", .data = "1"}, {.name = "a../...", .data = "2"}}), 1);
  EXPECT_EQ(ReadFile(target_ + "/a../..."), "2");
}

TEST_F(ExtractTest, StopsAtTheFirstEntryThatCannotBeWritten) {
  EXPECT_EQ(Unzip({{.name = "before", .data = "1"},
                   {.name = "broken", .data = "text", .method = 8, .stored = "\xff\xff\xff"},
                   {.name = "after", .data = "2"}}), 0);
  EXPECT_TRUE(Exists(target_ + "/before"));
  EXPECT_FALSE(Exists(target_ + "/after"));
}

// Thousands of entries of every small size, stored and deflated, as a payload holds them,
// and a stored one of several copy ranges: whatever the order of reading and writing, each
// file gets its own content, whether the kernel copies stored content or, into another file
// system (/dev/shm), the writer reads and writes it.
TEST_F(ExtractTest, ManyEntriesOfManySizesExtractExactly) {
  std::vector<ZipItem> entries;
  for (int i = 0; i < 3000; ++i) {
    std::string data;
    for (int j = 0; j < (i * 37) % 1500; ++j) data += static_cast<char>('a' + (i + j * j) % 26);
    entries.push_back({.name = "d" + std::to_string(i % 17) + "/f" + std::to_string(i),
                       .data = data, .deflate = i % 3 != 0});
  }
  std::string large;
  for (int i = 0; large.size() < 2500000; ++i) large += std::to_string(i * 7919) + ",";
  entries.push_back({.name = "large", .data = large});
  std::string archivePath = Store(dir_, BuildZip(entries, "stub").bytes);
  char other[] = "/dev/shm/extract.XXXXXX";
  std::vector<std::string> targets = {target_};
  std::unique_ptr<char, void (*)(char*)> removal(::mkdtemp(other), [](char* p) { RemoveTree(p); });
  if (removal) targets.push_back(std::string(other) + "/T");
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    ZipHandle archive(zipOpen(archivePath.c_str(), nullptr));
    ASSERT_EQ(UnzipFiles(archive.get(), target.c_str(), nullptr), 1);
    for (const ZipItem& e : entries) ASSERT_TRUE(ReadFile(target + "/" + e.name) == e.data) << e.name;
  }
}

// One data byte flipped in a stored and in a deflated entry, a header CRC that is wrong,
// and a directory or empty entry whose CRC is not that of nothing: each fails extraction
// whichever entry it is, and the entries before it are still written whole.
TEST_F(ExtractTest, EntriesWhoseContentDoesNotMatchTheirCrcFail) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
  // Deflate's stored blocks inflate byte for byte, so a flip there leaves a stream that
  // inflates cleanly to the right length: only the CRC can catch it.
  std::string deflated = Deflate(text, Z_NO_COMPRESSION);
  std::string flippedDeflate = deflated;
  flippedDeflate[deflated.size() / 2] ^= 0x01;
  std::string flippedText = text;
  flippedText[17] ^= 0x20;

  const ZipItem good{.name = "good.txt", .data = text, .deflate = true};
  const std::vector<ZipItem> damaged = {
      {.name = "stored", .data = text, .stored = flippedText},
      {.name = "deflated", .data = text, .method = 8, .stored = flippedDeflate},
      {.name = "header", .data = text, .deflate = true, .crc = Crc(text) ^ 0x80000000u},
      {.name = "empty", .data = "", .crc = 1},
      {.name = "dir/", .data = "", .crc = 0xFFFFFFFFu},
  };
  for (const ZipItem& bad : damaged) {
    SCOPED_TRACE(bad.name);
    ScratchDir scratch;
    std::string target = scratch / "T";
    ZipHandle archive(zipOpen(Store(dir_, BuildZip({good, bad}, "stub").bytes).c_str(), nullptr));
    ASSERT_TRUE(archive);
    EXPECT_EQ(UnzipFiles(archive.get(), target.c_str(), nullptr), 0);
    EXPECT_EQ(ReadFile(target + "/good.txt"), text);
  }
  EXPECT_EQ(Unzip({good, {.name = "empty", .data = ""}, {.name = "dir/", .data = ""}}), 1);
}

// Archives made by Info-ZIP zip (longer LOC than CEN extra fields) and by Python's zipfile,
// behind a prefix as in an installer, extract exactly as unzip extracts them.
TEST_F(ExtractTest, MatchesUnzipOnArchivesOfPeerTools) {
  std::string src = dir_ / "src";
  WriteFile(src + "/top.txt", "top\n");
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "row " + std::to_string(i) + "\n";
  WriteFile(src + "/pkg/lib/big.txt", big);
  WriteFile(src + "/pkg/empty", "");
  MakeDirs(src + "/pkg/emptydir");

  RunOptions zipOptions;
  zipOptions.argv = {"/usr/bin/zip", "-q", "-r", dir_ / "tool.zip", "."};
  zipOptions.cwd = src;
  RunResult zip = test::Run(zipOptions);
  ASSERT_EQ(zip.exitCode, 0) << zip.err;
  RunOptions pyOptions;
  pyOptions.argv = {"/usr/bin/python3", "-c",
                               "import sys, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                               "  z.writestr('pkg/', '')\n"
                               "  z.writestr('pkg/a.txt', 'a' * 100000)\n"
                               "  z.writestr('stored.bin', bytes(range(256)), zipfile.ZIP_STORED)\n",
                               dir_ / "py.zip"};
  RunResult py = test::Run(pyOptions);
  ASSERT_EQ(py.exitCode, 0) << py.err;

  for (const char* name : {"tool.zip", "py.zip"}) {
    SCOPED_TRACE(name);
    std::string archivePath = dir_ / name;
    RunOptions unzipOptions;
    unzipOptions.argv = {"/usr/bin/unzip", "-qo", archivePath, "-d", dir_ / "ref"};
    RunResult unzip = test::Run(unzipOptions);
    ASSERT_EQ(unzip.exitCode, 0) << unzip.err;
    std::string installer = dir_ / "installer";
    WriteFile(installer, std::string(232620, '\x90') + ReadFile(archivePath));
    ZipHandle archive(zipOpen(installer.c_str(), nullptr));
    ASSERT_TRUE(archive);
    EXPECT_EQ(UnzipFiles(archive.get(), target_.c_str(), nullptr), 1);
    EXPECT_EQ(Tree(target_), Tree(dir_ / "ref"));
    RemoveTree(target_);
    RemoveTree(dir_ / "ref");
  }
}

}  // namespace
}  // namespace launcher::test

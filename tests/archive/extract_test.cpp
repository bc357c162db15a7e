// Extraction into a directory, hostile payloads included: each row's archive is written
// whole, refused, or written up to its first bad entry, and nothing lands outside the target.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "archive/extract.h"
#include "archive/zip_internal.h"
#include "support/scratch.h"
#include "support/zip.h"

namespace launcher::test {
namespace {

using Tree = std::map<std::string, std::string>;  // path -> content, "<dir>" for directories

Tree Collect(const std::string& root) {
  Tree tree;
  std::error_code ignored;  // no target directory: an empty tree
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ignored)) {
    tree[entry.path().string().substr(root.size())] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
  }
  return tree;
}

std::string Deep(int levels) {
  std::string name;
  while (--levels > 0) name += "d/";
  return name + "f";
}

// Opens bytes (written to dir/a.zip) and extracts them into dir/T.
int Unzip(const ScratchDir& dir, const std::string& bytes) {
  WriteFile(dir / "a.zip", bytes);
  ZipHandle archive(zipOpen((dir / "a.zip").c_str(), nullptr));
  return archive ? UnzipFiles(archive.get(), (dir / "T").c_str(), nullptr) : -1;
}

struct Row {
  const char* name;
  std::vector<ZipItem> entries;
  int result;
  std::optional<Tree> files;  // every file and directory the target must then hold
  std::function<void(BuiltZip&)> patch = {};
};

const Row kRows[] = {
    {"directories and files", {{.name = "package/"}, {.name = "a/b/c", .data = "c", .deflate = true}}, 1, Tree{{"/package", "<dir>"}, {"/a", "<dir>"}, {"/a/b", "<dir>"}, {"/a/b/c", "c"}}},
    {"absolute name", {{.name = "first", .data = "1"}, {.name = "/abs", .data = "x"}}, 0, Tree{{"/first", "1"}}},
    {"parent name", {{.name = "first", .data = "1"}, {.name = "../escape", .data = "x"}}, 0, Tree{{"/first", "1"}}},
    {"dot-dot inside", {{.name = "first", .data = "1"}, {.name = "a/../../escape", .data = "x"}}, 0, Tree{{"/first", "1"}}},
    {"dot-dot last", {{.name = "first", .data = "1"}, {.name = "a/..", .data = "x"}}, 0, Tree{{"/first", "1"}}},
    {"local name escaping", {{.name = "a", .data = "x", .locName = "../escape"}}, 0, {}},
    {"dots that stay inside", {{.name = "..a", .data = "1"}, {.name = "a../...", .data = "2"}}, 1, Tree{{"/..a", "1"}, {"/a..", "<dir>"}, {"/a../...", "2"}}},
    {"odd bytes, a NUL and a repeated name",
     {{.name = "tab\there\x01\x1b[31m", .data = "1"}, {.name = "\xff\xfe/\x81", .data = "2"},
      {.name = "same", .data = "old"}, {.name = "same", .data = "new", .deflate = true},
      {.name = "cut", .data = "3", .locName = std::string("cut\0/../../x", 12)}},
     1, Tree{{"/tab\there\x01\x1b[31m", "1"}, {"/\xff\xfe", "<dir>"}, {"/\xff\xfe/\x81", "2"}, {"/same", "new"}, {"/cut", "3"}}},
    {"a file standing where a directory must be", {{.name = "a", .data = "file"}, {.name = "a/x", .data = "x"}}, 1, Tree{{"/a", "<dir>"}, {"/a/x", "x"}}},
    {"512 levels", {{.name = Deep(512), .data = "deep"}}, 1, {}}, {"513 levels, beyond the clean-up", {{.name = Deep(513), .data = "deep"}}, 0, {}},
    {"stored content not matching its CRC", {{.name = "first", .data = "1"}, {.name = "s", .data = "s", .crc = 1}}, 0, Tree{{"/first", "1"}, {"/s", "s"}}},
    {"directory entry with content CRC", {{.name = "first", .data = "1"}, {.name = "dir/", .crc = 1}}, 0, Tree{{"/first", "1"}}},
    {"unreadable local header ends the walk", {{.name = "first", .data = "1"}, {.name = "second", .data = "2"}, {.name = "third"}}, 0, Tree{{"/first", "1"}}, [](BuiltZip& zip) { zip.bytes[zip.loc[1] + 3] = 9; }},
    {"two entries sharing one local header", {{.name = "one", .data = "shared"}, {.name = "two", .data = "shared"}}, 1, Tree{{"/one", "shared"}}, [](BuiltZip& zip) { PutLE(zip.bytes, zip.cen[1] + 42, 0, 4); }},
    {"local copies of method, CRC and sizes lie", {{.name = "lies", .data = "the directory governs", .deflate = true}}, 1,
     Tree{{"/lies", "the directory governs"}}, [](BuiltZip& zip) {
       for (size_t field : {8, 14, 18, 22}) PutLE(zip.bytes, zip.loc[0] + field, 0xFFFFFFFFu, field == 8 ? 2 : 4);
     }},
    {"deflate bomb: 64 MiB of zeros declared as 1 MiB", {{.name = "bomb", .method = 8, .cenSize = 1u << 20, .stored = Deflate(std::string(64u << 20, '\0'), 9)}}, 0, {}},
};

TEST(Extract, WritesRefusesOrStopsAsEachRowSays) {
  for (const Row& row : kRows) {
    ScratchDir dir;
    BuiltZip zip = BuildZip(row.entries, "stub");
    if (row.patch) row.patch(zip);
    EXPECT_EQ(Unzip(dir, zip.bytes), row.result) << row.name;
    EXPECT_TRUE(!row.files || Collect(dir / "T") == *row.files) << row.name;
    EXPECT_LE(ReadFile(dir / "T/bomb").size(), 1u << 20) << "written past the declared size";
    for (const std::string& name : ListDir(dir.path())) EXPECT_TRUE(name == "T" || name == "a.zip") << row.name;
  }
}

// Every file arrives exact with mode 0700 whatever the umask, over thousands of entries and
// a stored one of several copy ranges, which the kernel copies, or the writer reads and
// writes when the target is on another file system (/dev/shm). The split at the payload
// runtime is checked end to end, where its two passes fill one working directory.
TEST(Extract, ManyFilesArriveExactWithMode0700OnAnyFileSystem) {
  std::vector<ZipItem> entries;
  for (int i = 0; i < 3000; ++i) {
    entries.push_back({"d" + std::to_string(i % 17) + "/f" + std::to_string(i), std::string(size_t(i * 37 % 1500), char('a' + i % 26)), i % 3 != 0});
  }
  std::string large;
  for (int i = 0; large.size() < 2500000; ++i) large += std::to_string(i * 7919) + ",";
  entries.push_back({.name = "large", .data = large});
  ScratchDir dir;
  mode_t old = ::umask(077);
  EXPECT_EQ(Unzip(dir, BuildZip(entries, "stub").bytes), 1);
  ::umask(old);
  Tree tree = Collect(dir / "T");
  for (const ZipItem& e : entries) ASSERT_EQ(tree["/" + e.name], e.data) << e.name;
  EXPECT_EQ(std::filesystem::status(dir / "T/d3/f3").permissions(), std::filesystem::perms::owner_all);
  char other[] = "/dev/shm/extract.XXXXXX";  // another file system, where the kernel can't copy
  if (::mkdtemp(other)) {
    ZipHandle archive(zipOpen((dir / "a.zip").c_str(), nullptr));
    EXPECT_EQ(UnzipFiles(archive.get(), other, nullptr), 1);
    EXPECT_TRUE(Collect(other) == tree) << "the copy on another file system differs";
    RemoveTree(other);
  }
}

}  // namespace
}  // namespace launcher::test

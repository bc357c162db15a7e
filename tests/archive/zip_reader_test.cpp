// The zip reader: opening (end record, central directory), entry records, entry content.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "archive/zip_internal.h"
#include "support/scratch.h"
#include "support/zip.h"

namespace launcher::test {
namespace {

const std::vector<ZipItem> kTwo = {{.name = "a.txt", .data = "alpha"}, {.name = "b/c.txt", .data = "gamma gamma", .deflate = true}};

std::string Patched(BuiltZip zip, size_t at, uint32_t value, int width) { return PutLE(zip.bytes, at, value, width), zip.bytes; }

// What readCEN says of an archive: "" when it indexes the directory, else its text.
std::string Refusal(const std::string& bytes) {
  ScratchDir dir;
  WriteFile(dir / "a.zip", bytes);
  ZipArchive* archive = allocZip((dir / "a.zip").c_str());
  archive->fd.reset(::open((dir / "a.zip").c_str(), O_RDONLY | O_CLOEXEC));
  int64_t result = readCEN(archive);
  std::string text = result > 0 ? "" : archive->message ? archive->message : "(no text)";
  EXPECT_TRUE(result > 0 || archive->cells.empty()) << "a refused directory keeps a partial index";
  freeZip(archive);
  return text;
}

TEST(ZipOpen, EachMalformedDirectoryIsRefusedWithItsReason) {
  BuiltZip zip = BuildZip(kTwo, "prefix"), roomy = BuildZip(kTwo);  // roomy: 40 bytes where no header fits
  roomy.bytes.insert(roomy.end, 40, '\0');
  PutLE(roomy.bytes, roomy.end + 40 + 12, static_cast<uint32_t>(roomy.end + 40 - roomy.cenStart), 4);
  std::vector<ZipItem> many(65535);
  for (size_t i = 0; i < many.size(); ++i) many[i].name = std::to_string(i);
  const char* kSize = "invalid END header (bad central directory size)";
  const char* kOffset = "invalid END header (bad central directory offset)";
  const char* kHeader = "invalid CEN header (bad header size)";
  const std::pair<std::string, std::string> kRows[] = {
      {zip.bytes, ""},
      {BuildZip(kTwo, "", "comment").bytes + "x", "(no text)"},  // comment short of the file's end
      {BuildZip(kTwo, "", std::string(65513, 'c')).bytes, ""},
      {BuildZip(kTwo, "", std::string(65514, 'c')).bytes, "(no text)"},  // END before the search span
      {BuildZip(kTwo, "", BuildZip({}).bytes.substr(0, 20) + "\x05\x01").bytes, ""},  // END look-alike
      {Patched(zip, zip.end + 12, 0x80000000u, 4), kSize}, {Patched(zip, zip.end + 12, uint32_t(zip.end + 1), 4), kSize},
      {Patched(zip, zip.end + 16, 0xFFFFFFFFu, 4), kOffset}, {Patched(zip, zip.end + 16, uint32_t(zip.cenStart + 1), 4), kOffset},
      {Patched(zip, zip.end + 10, 3, 2), "invalid END header (bad entry count)"},
      {Patched(roomy, roomy.end + 40 + 10, 3, 2), kHeader},
      {Patched(zip, zip.cen[1], 0x02014B51u, 4), "invalid CEN header (bad signature)"},
      {Patched(zip, zip.cen[1] + 8, 1, 2), "invalid CEN header (encrypted entry)"},
      {Patched(zip, zip.cen[1] + 10, 12, 2), "invalid CEN header (bad compression method)"},
      {Patched(zip, zip.cen[1] + 28, 200, 2), kHeader}, {Patched(zip, zip.cen[1] + 32, 1, 2), kHeader},
      {BuildZip(many, "#").bytes, "too many entries in ZIP file"},
      {BuildZip({many.begin(), many.end() - 1}, "#").bytes, ""},
  };
  for (const auto& [bytes, text] : kRows) EXPECT_EQ(Refusal(bytes), text) << "expected: " << text;
  // The END header at every alignment of the search.
  for (size_t n = 0; n < 70; ++n) EXPECT_EQ(Refusal(BuildZip(kTwo, "#!", std::string(n, 'c')).bytes), "") << n;
}

TEST(ZipOpen, FileOver2GiBIsRefusedAndChangedFilesAreNotShared) {
  ScratchDir dir;
  std::string path = dir / "big", bytes = BuildZip(kTwo).bytes;
  WriteFile(path, "");
  std::filesystem::resize_file(path, uintmax_t{1} << 31);  // sparse
  std::ofstream(path, std::ios::app | std::ios::binary) << bytes;
  int32_t code = 0;
  EXPECT_EQ(zipOpen(path.c_str(), &code), nullptr);
  EXPECT_EQ(code, kZipInvalid);
  EXPECT_EQ(zipOpen((dir / "missing").c_str(), &code), nullptr);
  EXPECT_EQ(code, kZipCannotOpen);

  WriteFile(path, bytes);
  auto open = [&](int64_t time) { return zipOpenGeneric(path.c_str(), nullptr, O_RDONLY, time); };
  ZipArchive *a = open(7), *b = open(8), *c = open(8);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b) << "a file with another time stamp reuses the old index";
  EXPECT_EQ(b, c);
  EXPECT_NE(::fcntl(a->fd.get(), F_GETFD) & FD_CLOEXEC, 0) << "the Java child inherits it";
  for (ZipArchive* archive : {a, b, c}) zipClose(archive);
  EXPECT_EQ(zfiles, nullptr);
}

// Entries as the reader gives them: each record from the right header (extra fields, comment,
// where the data begins, lookup by name), each content exact, or refused with at most the
// declared size written.
TEST(ZipEntries, RecordsComeFromTheRightHeadersAndContentExactlyOrNotAtAll) {
  std::string large;
  for (size_t i = 0; large.size() < 300000; ++i) large += "line " + std::to_string(i % 977) + "\n";
  std::string text = large.substr(0, 50000), deflated = Deflate(text), small = Deflate("hello hello");
  struct Row {
    ZipItem item;
    bool ok = true;
    std::optional<std::vector<uint8_t>> extra = {};  // the record's: length, then the bytes
  };
  const Row kRows[] = {
      {{.name = "local extra", .data = "12345", .locExtra = "LLLL"}, true, std::vector<uint8_t>{4, 0, 'L', 'L', 'L', 'L'}},
      {{.name = "both extras", .data = "67890", .cenExtra = "CC", .locExtra = "LLLLLLL"}, true, std::vector<uint8_t>{2, 0, 'C', 'C'}},
      {{.name = "Aa", .data = "aa", .comment = "about Aa"}},  // "Aa" and "BB" share a hash
      {{.name = "meta-inf/x"}}, {{.name = "Meta-Inf/y"}}, {{.name = "META-INF"}},
      {{.name = "stored", .data = "plain"}}, {{.name = "deflated", .data = text, .deflate = true}},
      {{.name = "empty-deflated", .deflate = true}}, {{.name = "large stored", .data = large}},
      {{.name = "stored, wrong CRC", .data = text, .crc = Crc(text) + 1}, false}, {{.name = "empty, wrong CRC", .crc = 7}, false},
      {{.name = "deflated, wrong CRC", .data = text, .deflate = true, .crc = 0}, false},
      {{.name = "negative stored size", .cenSize = 0x80000001u}, false}, {{.name = "stored past the file", .data = "abc", .cenSize = 100000}, false},
      {{.name = "stream ends short of its size", .data = text, .deflate = true, .cenSize = 50001}, false},
      {{.name = "size understated", .data = text, .deflate = true, .cenSize = 20000}, false},
      {{.name = "stream cut", .data = text, .method = 8, .stored = deflated.substr(0, deflated.size() / 2)}, false},
      {{.name = "data after the stream", .data = "hello hello", .method = 8, .stored = small + std::string(5000, 'j')}, false},
      {{.name = "garbage stream", .data = text, .method = 8, .stored = std::string(3000, '\xff')}, false},
  };
  ScratchDir dir;
  std::vector<ZipItem> items;
  for (const Row& row : kRows) items.push_back(row.item);
  items.push_back({.name = "bad local signature", .data = "b"});
  BuiltZip zip = BuildZip(items, "stub");
  zip.bytes[zip.loc.back() + 3] = 9;
  WriteFile(dir / "a.zip", zip.bytes);
  ZipHandle archive(zipOpen((dir / "a.zip").c_str(), nullptr));
  ASSERT_TRUE(archive);
  std::string out = dir / "out";
  const int32_t rows = static_cast<int32_t>(std::size(kRows));
  for (int32_t i = 0; i < rows; ++i) {
    const auto& [item, ok, extra] = kRows[static_cast<size_t>(i)];
    ZipEntry* entry = zipGetNextEntry(archive.get(), i);
    ASSERT_TRUE(entry) << item.name;
    EXPECT_EQ(entry->extra, extra) << item.name;
    EXPECT_EQ(zipReadEntry(archive.get(), entry, out.c_str()), ok ? 1 : 0) << item.name;
    int64_t declared = static_cast<int32_t>(item.cenSize.value_or(item.data.size()));
    EXPECT_LE(static_cast<int64_t>(ReadFile(out).size()), std::max<int64_t>(0, declared)) << item.name << " written past its size";
    EXPECT_TRUE(!ok || ReadFile(out) == item.data) << item.name;
    zipFreeEntry(archive.get(), entry);
  }
  EXPECT_EQ(zipGetNextEntry(archive.get(), rows), nullptr);
  EXPECT_STREQ(archive->message, "invalid LOC header (bad signature)");
  for (int32_t i : {rows + 1, -1}) EXPECT_EQ(zipGetNextEntry(archive.get(), i), nullptr);
  EXPECT_EQ(zipGetEntry(archive.get(), "BB"), nullptr);
  ZipEntry* aa = zipGetEntry(archive.get(), "Aa");
  ASSERT_TRUE(aa);
  EXPECT_STREQ(aa->comment, "about Aa");
  zipFreeEntry(archive.get(), aa);
  EXPECT_EQ(archive->metaNames, (std::vector<std::optional<std::string>>{{"meta-inf/x"}, {"Meta-Inf/y"}}));
}

}  // namespace
}  // namespace launcher::test

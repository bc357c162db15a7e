// Opening archives: the END search, the central directory's validation and index, sharing.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "archive/zip_internal.h"
#include "archive_fixture.h"
#include "zip_builder.h"

namespace launcher::test {
namespace {

class ZipOpenTest : public ::testing::Test {
 protected:
  ZipArchive* Open(const std::string& bytes, int32_t* code = nullptr) {
    return zipOpen(Store(dir_, bytes, "a" + std::to_string(count_++) + ".zip").c_str(), code);
  }
  // Opens and closes; returns the code (and 1 for a successful open).
  int32_t OpenCode(const std::string& bytes) {
    int32_t code = 99;
    ZipHandle archive(Open(bytes, &code));
    return archive ? 1 : code;
  }
  ScratchDir dir_;
  int count_ = 0;
};

const std::vector<ZipItem> kTwo = {{.name = "a.txt", .data = "alpha"},
                                   {.name = "b/c.txt", .data = "gamma gamma", .deflate = true}};

TEST_F(ZipOpenTest, FindsEndRecordOnlyWhenCommentEndsAtEndOfFile) {
  ZipHandle archive(Open(BuildZip(kTwo, "", "0123456789").bytes));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->comment, "0123456789");
  EXPECT_EQ(archive->entryCount, 2);
  EXPECT_EQ(OpenCode(BuildZip(kTwo, "", "0123456789").bytes + "x"), kZipInvalid);
}

TEST_F(ZipOpenTest, FindsSignatureAtEveryAlignmentAcrossSearchBlocks) {
  // Comment lengths 19 to 21 put the signature across two 22-byte blocks.
  for (size_t commentLen = 0; commentLen < 70; ++commentLen) {
    SCOPED_TRACE(commentLen);
    ZipHandle archive(Open(BuildZip(kTwo, "#!", std::string(commentLen, 'c')).bytes));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entryCount, 2);
  }
}

TEST_F(ZipOpenTest, SkipsSignatureInCommentWhoseLengthDoesNotFit) {
  // A fake END header inside the comment, met first by the backward search.
  std::string fake = EndOnly("").substr(0, 20) + "\x05";
  ZipHandle archive(Open(BuildZip(kTwo, "", fake + "\x01").bytes));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->entryCount, 2);
}

TEST_F(ZipOpenTest, SearchesExactlyTheLast65535Bytes) {
  EXPECT_EQ(OpenCode(BuildZip(kTwo, "", std::string(65513, 'c')).bytes), 1);
  EXPECT_EQ(OpenCode(BuildZip(kTwo, "", std::string(65514, 'c')).bytes), kZipInvalid);
}

TEST_F(ZipOpenTest, ShiftsEveryOffsetByThePrefixLength) {
  for (size_t prefixLen : {size_t{0}, size_t{1}, size_t{232620}}) {
    BuiltZip zip = BuildZip(kTwo, std::string(prefixLen, '\x7f'));
    ZipHandle archive(Open(zip.bytes));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->cells[0].locOffset, static_cast<int64_t>(zip.loc[0]));
    EXPECT_EQ(archive->cells[1].locOffset, static_cast<int64_t>(zip.loc[1]));
    EXPECT_EQ(archive->cells[1].cenPosition, static_cast<int64_t>(zip.cen[1]));
    Entry entry(archive.get(), zipGetNextEntry(archive.get(), 1));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "b/c.txt");
  }
}

TEST_F(ZipOpenTest, EndOnlyArchiveNeedsAPrefixToOpen) {
  // With nothing ahead of it the directory lies at position 0, which counts as failure.
  EXPECT_EQ(OpenCode(EndOnly("")), kZipInvalid);
  ZipHandle archive(Open(EndOnly("x")));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->entryCount, 0);
  EXPECT_EQ(archive->headCount, 1);
  EXPECT_EQ(zipGetNextEntry(archive.get(), 0), nullptr);
  EXPECT_EQ(zipGetEntry(archive.get(), "x"), nullptr);
  // The header in the file's first, partial search block is still reached.
  EXPECT_EQ(OpenCode(EndOnly("x", "c")), 1);
  EXPECT_EQ(OpenCode(EndOnly(std::string(20, 'x'), "comment")), 1);
}

TEST_F(ZipOpenTest, RefusesMissingFilesAndNonArchives) {
  int32_t code = 0;
  EXPECT_EQ(zipOpen((dir_ / "missing.zip").c_str(), &code), nullptr);
  EXPECT_EQ(code, kZipCannotOpen);
  EXPECT_EQ(OpenCode(""), kZipInvalid);
  EXPECT_EQ(OpenCode("PK\x05\x06"), kZipInvalid);
  EXPECT_EQ(OpenCode(std::string(100000, 'z')), kZipInvalid);
}

TEST_F(ZipOpenTest, ReportsEachInvalidEndHeaderField) {
  struct Case {
    size_t at;
    uint32_t value;
    bool wide;
    const char* text;
  };
  BuiltZip zip = BuildZip(kTwo, "prefix");
  uint32_t cenSize = static_cast<uint32_t>(zip.end - zip.cenStart);
  const Case cases[] = {
      {12, 0x80000000u, true, "invalid END header (bad central directory size)"},
      {12, static_cast<uint32_t>(zip.end + 1), true,
       "invalid END header (bad central directory size)"},
      {16, 0xFFFFFFFFu, true, "invalid END header (bad central directory offset)"},
      {16, static_cast<uint32_t>(zip.cenStart + 1), true,
       "invalid END header (bad central directory offset)"},
      {10, static_cast<uint16_t>(cenSize / 46 + 1), false, "invalid END header (bad entry count)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string bytes = zip.bytes;
    if (c.wide) {
      PutLE32(bytes, zip.end + c.at, c.value);
    } else {
      PutLE16(bytes, zip.end + c.at, static_cast<uint16_t>(c.value));
    }
    CenResult result = ReadCenOf(Store(dir_, bytes));
    EXPECT_EQ(result.result, -1);
    EXPECT_EQ(result.message, c.text);
    EXPECT_EQ(OpenCode(bytes), kZipInvalid);
  }
  // A prefix of 6 bytes was found from the directory's real position.
  CenResult good = ReadCenOf(Store(dir_, zip.bytes));
  EXPECT_EQ(good.result, static_cast<int64_t>(zip.cenStart));
  EXPECT_EQ(good.message, "");
}

TEST_F(ZipOpenTest, ReportsEachInvalidCentralHeader) {
  struct Case {
    std::vector<ZipItem> entries;
    size_t patchAt;   // offset in the second CEN header; 0: no patch
    uint16_t value;
    const char* text;
  };
  std::vector<ZipItem> encrypted = kTwo;
  encrypted[1].flags = 1;
  std::vector<ZipItem> imploded = kTwo;
  imploded[1].method = 12;
  const Case cases[] = {
      {kTwo, 1, 0x4C, "invalid CEN header (bad signature)"},
      {encrypted, 0, 0, "invalid CEN header (encrypted entry)"},
      {imploded, 0, 0, "invalid CEN header (bad compression method)"},
      {kTwo, 28, 200, "invalid CEN header (bad header size)"},   // name runs past the end
      {kTwo, 32, 1, "invalid CEN header (bad header size)"},     // comment runs past the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BuiltZip zip = BuildZip(c.entries);
    if (c.patchAt == 1) zip.bytes[zip.cen[1] + 1] = 0x4C;
    if (c.patchAt > 1) PutLE16(zip.bytes, zip.cen[1] + c.patchAt, c.value);
    CenResult result = ReadCenOf(Store(dir_, zip.bytes));
    EXPECT_EQ(result.result, -1);
    EXPECT_EQ(result.message, c.text);
    EXPECT_EQ(result.cells, 0u) << "a refused directory keeps no partial index";
    EXPECT_EQ(OpenCode(zip.bytes), kZipInvalid);
  }
}

TEST_F(ZipOpenTest, RefusesEntryCountBeyondTheFixedHeadersThatFit) {
  // Two real headers plus 40 spare bytes: a third 46-byte header cannot fit.
  BuiltZip zip = BuildZip(kTwo);
  std::string bytes = zip.bytes.substr(0, zip.end) + std::string(40, '\0') +
                      zip.bytes.substr(zip.end);
  size_t end = zip.end + 40;
  PutLE32(bytes, end + 12, static_cast<uint32_t>(end - zip.cenStart));
  PutLE16(bytes, end + 10, 3);
  CenResult result = ReadCenOf(Store(dir_, bytes));
  EXPECT_EQ(result.message, "invalid CEN header (bad header size)");
}

TEST_F(ZipOpenTest, IndexesStoredEntryWithCompressedSizeZero) {
  std::vector<ZipItem> entries = {{.name = "s", .data = "stored!", .cenCompressedSize = 99}};
  ZipHandle archive(Open(BuildZip(entries).bytes));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->cells[0].compressedSize, 0);
  EXPECT_EQ(archive->cells[0].size, 7);
}

TEST_F(ZipOpenTest, Accepts65534EntriesAndRefuses65535) {
  std::vector<ZipItem> entries(65534);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].name = std::to_string(i);
  BuiltZip zip = BuildZip(entries, "#");
  {
    ZipHandle archive(Open(zip.bytes));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entryCount, 65534);
    EXPECT_EQ(archive->headCount, 32767);
    Entry last(archive.get(), zipGetEntry(archive.get(), "65533"));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->name, "65533");
  }
  entries.push_back({.name = "65534"});
  std::string bytes = BuildZip(entries, "#").bytes;
  CenResult result = ReadCenOf(Store(dir_, bytes));
  EXPECT_EQ(result.message, "too many entries in ZIP file");
  EXPECT_EQ(OpenCode(bytes), kZipInvalid);
}

// The directory is read through a window of kCenWindowSize bytes. Headers cut by the
// window's end (in their fixed part or in their name, extra field or comment) and headers
// larger than the window must be indexed exactly as a directory read whole.
TEST_F(ZipOpenTest, IndexesHeadersAcrossAndBeyondTheReadWindow) {
  // Larger than the window; name and extra field together still fit their 16-bit cell field.
  const std::string huge(65535, 'h');
  std::vector<ZipItem> entries;
  for (int i = 0; i < 3000; ++i) {
    ZipItem e{.name = (i % 13 == 0 ? "META-INF/" : "d/") + std::to_string(i) +
                      std::string(static_cast<size_t>(i % 97), 'n'),
              .data = std::to_string(i)};
    if (i % 11 == 0) e.cenExtra = std::string(static_cast<size_t>(i % 30 + 4), 'x');
    if (i % 7 == 0) e.comment = "comment " + std::to_string(i);
    entries.push_back(e);
  }
  ZipItem giant{.name = huge.substr(0, 40000), .cenExtra = huge.substr(0, 25535),
                .comment = huge};
  entries.insert(entries.begin() + 1000, giant);
  entries.push_back(giant);  // the last header ends exactly where the directory does

  // Each shift of the first name moves every later header against the window's end.
  for (size_t shift = 0; shift <= kCenHeaderSize; shift += 3) {
    SCOPED_TRACE(shift);
    entries[0].name = "first" + std::string(shift, 's');
    BuiltZip zip = BuildZip(entries, "prefix");
    ASSERT_GT(zip.end - zip.cenStart, 4 * kCenWindowSize);
    ZipHandle archive(Open(zip.bytes));
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->cells.size(), entries.size());
    std::vector<std::string> meta;
    for (size_t i = 0; i < entries.size(); ++i) {
      const ZipItem& e = entries[i];
      const ZipCell& cell = archive->cells[i];
      ASSERT_EQ(cell.nameHash, hash(e.name.c_str())) << i;
      ASSERT_EQ(cell.cenPosition, static_cast<int64_t>(zip.cen[i])) << i;
      ASSERT_EQ(cell.locOffset, static_cast<int64_t>(zip.loc[i])) << i;
      ASSERT_EQ(cell.nameExtraLen, e.name.size() + e.cenExtra.size()) << i;
      ASSERT_EQ(cell.cenExtraLen, e.cenExtra.size()) << i;
      ASSERT_EQ(cell.size, static_cast<int32_t>(e.data.size())) << i;
      ASSERT_EQ(archive->entryComments[i].value_or(""), e.comment) << i;
      if (isMetaName(e.name.c_str())) meta.push_back(e.name);
    }
    std::vector<std::string> collected;
    for (const auto& name : archive->metaNames) {
      if (name) collected.push_back(*name);
    }
    EXPECT_EQ(collected, meta);
    Entry late(archive.get(), zipGetEntry(archive.get(), entries[2500].name.c_str()));
    ASSERT_TRUE(late);
    EXPECT_EQ(late->name, entries[2500].name);

    // Damage far past the first window is still found, and refuses the whole directory.
    std::string bytes = zip.bytes;
    bytes[zip.cen[2500]] = 'Q';
    CenResult result = ReadCenOf(Store(dir_, bytes));
    EXPECT_EQ(result.message, "invalid CEN header (bad signature)");
    EXPECT_EQ(result.cells, 0u);
    bytes = zip.bytes;
    PutLE16(bytes, zip.cen.back() + 30, 25536);  // the last header overruns by 1 byte
    result = ReadCenOf(Store(dir_, bytes));
    EXPECT_EQ(result.message, "invalid CEN header (bad header size)");
  }
}

TEST_F(ZipOpenTest, HashTreatsHighBytesAsSigned) {
  EXPECT_EQ(hash("abc"), 96354u);
  EXPECT_EQ(hash("\xC3"), 0xFFFFFFC3u);
  EXPECT_EQ(hash(""), 0u);
}

TEST_F(ZipOpenTest, ChainsListLaterDuplicatesFirst) {
  std::vector<ZipItem> entries;
  for (int i = 0; i < 18; ++i) entries.push_back({.name = "f" + std::to_string(i)});
  entries[17] = {.name = "f3", .data = "second"};
  ZipHandle archive(Open(BuildZip(entries).bytes));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->headCount, 9);
  uint32_t chain = hash("f3") % 9;
  EXPECT_EQ(archive->chainHeads[chain], 17);
  // Both copies are on the chain, the later one first.
  int seen = 0;
  for (uint16_t i = archive->chainHeads[chain]; i != kEndOfChain; i = archive->cells[i].nextInChain) {
    if (archive->cells[i].nameHash == hash("f3")) {
      EXPECT_EQ(i, seen++ == 0 ? 17 : 3);
    }
  }
  EXPECT_EQ(seen, 2);
  Entry found(archive.get(), zipGetEntry(archive.get(), "f3"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->size, 6);
}

TEST_F(ZipOpenTest, CollectsMetaNamesCaseInsensitively) {
  std::vector<ZipItem> entries = {{.name = "meta-inf/x"}, {.name = "META-INF/y"},
                                  {.name = "META-INF"},   {.name = "Meta-Inf/z"},
                                  {.name = "other"}};
  ZipHandle archive(Open(BuildZip(entries).bytes));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->metaSlots, 4);
  ASSERT_EQ(archive->metaNames.size(), 4u);
  EXPECT_EQ(archive->metaNames[0], "meta-inf/x");
  EXPECT_EQ(archive->metaNames[1], "META-INF/y");
  EXPECT_EQ(archive->metaNames[2], "Meta-Inf/z");
  EXPECT_FALSE(archive->metaNames[3]);
}

TEST_F(ZipOpenTest, KeepsEntryCommentsForTheirEntries) {
  std::vector<ZipItem> entries = {{.name = "a"}, {.name = "b", .comment = "about b"}};
  ZipHandle archive(Open(BuildZip(entries).bytes));
  ASSERT_TRUE(archive);
  Entry a(archive.get(), zipGetNextEntry(archive.get(), 0));
  Entry b(archive.get(), zipGetNextEntry(archive.get(), 1));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->comment, nullptr);
  EXPECT_STREQ(b->comment, "about b");
}

TEST_F(ZipOpenTest, SharesOneRecordPerPathUntilTheLastClose) {
  std::string path = Store(dir_, BuildZip(kTwo).bytes, "shared.zip");
  ZipArchive* first = zipOpen(path.c_str(), nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(::fcntl(first->fd.get(), F_GETFD) & FD_CLOEXEC, 0) << "the runtime inherits it";
  ZipArchive* second = zipOpen(path.c_str(), nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(first->refCount, 2);
  int fd = first->fd.get();
  zipClose(second);
  EXPECT_EQ(zfiles, first);
  EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
  // A different stamp does not share; the new record goes first in the list.
  ZipArchive* stamped = zipOpenGeneric(path.c_str(), nullptr, O_RDONLY, 42);
  EXPECT_EQ(stamped, first) << "a record opened with stamp 0 matches any stamp";
  zipClose(stamped);
  zipClose(first);
  EXPECT_EQ(zfiles, nullptr);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the last close closes the descriptor";

  ZipArchive* a = zipOpenGeneric(path.c_str(), nullptr, O_RDONLY, 7);
  ZipArchive* b = zipOpenGeneric(path.c_str(), nullptr, O_RDONLY, 8);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(zfiles, b);
  zipClose(a);
  EXPECT_EQ(zfiles, b);
  EXPECT_EQ(b->next, nullptr);
  zipClose(b);
  EXPECT_EQ(zfiles, nullptr);
}

}  // namespace
}  // namespace launcher::test

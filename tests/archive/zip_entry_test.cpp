// Entry records, lookup and its cache, raw reads, and writing entries out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "archive/zip_internal.h"
#include "host/process.h"
#include "archive_fixture.h"
#include "zip_builder.h"

namespace launcher::test {
namespace {

std::string Compressible(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 977) + "\n";
  text.resize(size);
  return text;
}

std::string Random(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

class ZipEntryTest : public ::testing::Test {
 protected:
  ZipArchive* Open(const std::vector<ZipItem>& entries) {
    path_ = Store(dir_, BuildZip(entries, "stub").bytes, "e" + std::to_string(count_++) + ".zip");
    return zipOpen(path_.c_str(), nullptr);
  }
  // Extracts entry index to a file; returns zipReadEntry's result, the content in *out.
  int Extract(ZipArchive* archive, int32_t index, std::string* out = nullptr) {
    Entry entry(archive, zipGetNextEntry(archive, index));
    if (!entry) return -1;
    std::string target = dir_ / "out";
    int result = zipReadEntry(archive, entry.get(), target.c_str());
    if (out) *out = ReadFile(target);
    return result;
  }
  // Runs inflateFully on entry index; returns its failure text ("" on success).
  std::string InflateText(ZipArchive* archive, int32_t index, std::string* out = nullptr) {
    Entry entry(archive, zipGetNextEntry(archive, index));
    EXPECT_TRUE(entry);
    if (!entry) return "no entry";
    std::string target = dir_ / "inflated";
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    struct : EntrySink {
      int fd;
      bool Put(const uint8_t* data, size_t count) override { return WriteAll(fd, data, count) == 1; }
    } sink;
    sink.fd = fd.get();
    const char* message = "unset";
    int result = inflateFully(archive, entry.get(), sink, &message);
    if (out) *out = ReadFile(target);
    if (result) return message ? "success with a text" : "";
    return message ? message : "(null)";
  }
  ScratchDir dir_;
  std::string path_;
  int count_ = 0;
};

TEST_F(ZipEntryTest, GetNextEntryRefusesIndexesOutOfRange) {
  ZipHandle archive(Open({{.name = "only"}}));
  ASSERT_TRUE(archive);
  EXPECT_EQ(zipGetNextEntry(archive.get(), -1), nullptr);
  EXPECT_EQ(zipGetNextEntry(archive.get(), 1), nullptr);
  Entry first(archive.get(), zipGetNextEntry(archive.get(), 0));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "only");
}

TEST_F(ZipEntryTest, TakesExtraFieldFromCentralHeaderWhenItHasOne) {
  ZipHandle archive(Open({{.name = "loc-only", .data = "12345", .locExtra = "LLLL"},
                       {.name = "both", .data = "67890", .cenExtra = "CC", .locExtra = "LLLLLLL"}}));
  ASSERT_TRUE(archive);
  BuiltZip zip = BuildZip({{.name = "loc-only", .data = "12345", .locExtra = "LLLL"},
                           {.name = "both", .data = "67890", .cenExtra = "CC", .locExtra = "LLLLLLL"}},
                          "stub");
  Entry locOnly(archive.get(), zipGetNextEntry(archive.get(), 0));
  Entry both(archive.get(), zipGetNextEntry(archive.get(), 1));
  ASSERT_TRUE(locOnly && both);
  EXPECT_EQ(locOnly->extra, (std::vector<uint8_t>{4, 0, 'L', 'L', 'L', 'L'}));
  EXPECT_EQ(both->extra, (std::vector<uint8_t>{2, 0, 'C', 'C'}));
  EXPECT_EQ(locOnly->time, 0x21A34C5Bu);
  // The data follows the LOC header's own name and extra field.
  EXPECT_EQ(both->dataOffset, static_cast<int64_t>(zip.loc[1] + 30 + 4 + 7));
  std::string content;
  EXPECT_EQ(Extract(archive.get(), 1, &content), 1);
  EXPECT_EQ(content, "67890");
}

TEST_F(ZipEntryTest, NameAndExtraPastSixteenBitsFindTheCentralExtra) {
  // Name and extra field together exceed 65,535 bytes: the central extra field lies
  // past that sum, not where a 16-bit count would wrap to.
  std::string name(40000, 'n');
  std::string extra = std::string(29999, 'e') + "E";
  ZipHandle archive(Open({{.name = name, .data = "abc", .cenExtra = extra, .locExtra = extra}}));
  ASSERT_TRUE(archive);
  Entry entry(archive.get(), zipGetNextEntry(archive.get(), 0));
  ASSERT_TRUE(entry) << archive->message;
  EXPECT_EQ(entry->name, name);
  ASSERT_TRUE(entry->extra);
  ASSERT_EQ(entry->extra->size(), extra.size() + 2);
  EXPECT_EQ(std::string(entry->extra->begin() + 2, entry->extra->end()), extra);
  std::string content;
  EXPECT_EQ(Extract(archive.get(), 0, &content), 1);
  EXPECT_EQ(content, "abc");
}

TEST_F(ZipEntryTest, ReadsLocNameAndExtraLongerThanTheCentralOnes) {
  std::string longName(300, 'n');
  ZipHandle archive(Open({{.name = "short", .data = "payload", .locExtra = std::string(600, 'x'),
                        .locName = longName},
                       {.name = "next", .data = "z"}}));
  ASSERT_TRUE(archive);
  Entry entry(archive.get(), zipGetNextEntry(archive.get(), 0));
  ASSERT_TRUE(entry) << archive->message;
  EXPECT_EQ(entry->name, longName);
  ASSERT_TRUE(entry->extra);
  EXPECT_EQ(entry->extra->size(), 602u);
  std::string content;
  EXPECT_EQ(Extract(archive.get(), 0, &content), 1);
  EXPECT_EQ(content, "payload");
}

TEST_F(ZipEntryTest, BadLocSignatureFailsOnlyThatEntry) {
  BuiltZip zip = BuildZip({{.name = "a", .data = "1"}, {.name = "b", .data = "2"}});
  zip.bytes[zip.loc[0] + 3] = 9;
  ZipHandle archive(zipOpen(Store(dir_, zip.bytes).c_str(), nullptr));
  ASSERT_TRUE(archive);
  EXPECT_EQ(zipGetNextEntry(archive.get(), 0), nullptr);
  EXPECT_STREQ(archive->message, "invalid LOC header (bad signature)");
  EXPECT_EQ(zipGetEntry(archive.get(), "a"), nullptr);
  Entry b(archive.get(), zipGetEntry(archive.get(), "b"));
  EXPECT_TRUE(b);
}

TEST_F(ZipEntryTest, LookupFindsNamesAndServesTheCachedRecordWithoutReading) {
  // "Aa" and "BB" share a hash: a lookup of one reads the other and caches it.
  ZipHandle archive(Open({{.name = "Aa", .data = "aa"}, {.name = "dir/file", .data = "f"}}));
  ASSERT_TRUE(archive);
  EXPECT_EQ(hash("Aa"), hash("BB"));
  EXPECT_EQ(zipGetEntry(archive.get(), "BB"), nullptr);
  EXPECT_EQ(zipGetEntry(archive.get(), "dir"), nullptr);
  int32_t size = 0, nameLength = 0;
  ZipEntry* file = zipFindEntry(archive.get(), "dir/file", &size, &nameLength);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(nameLength, 8);
  zipFreeEntry(archive.get(), file);

  // With the file emptied, only the cached record can still be found.
  ASSERT_EQ(::truncate(path_.c_str(), 0), 0);
  EXPECT_EQ(zipGetEntry(archive.get(), "dir/file"), file);
  EXPECT_EQ(archive->cachedEntry, nullptr) << "the record left the cache";
  zipFreeEntry(archive.get(), file);
  zipFreeEntry(archive.get(), file);  // a repeated release must not destroy it
  EXPECT_EQ(zipGetEntry(archive.get(), "dir/file"), file);
  zipFreeEntry(archive.get(), file);
  zipFreeEntry(archive.get(), nullptr);
  EXPECT_EQ(zipGetEntry(archive.get(), "dir/file"), nullptr);
}

TEST_F(ZipEntryTest, NearMissIsCachedForItsOwnName) {
  ZipHandle archive(Open({{.name = "Aa", .data = "aa"}}));
  ASSERT_TRUE(archive);
  EXPECT_EQ(zipGetEntry(archive.get(), "BB"), nullptr);
  ASSERT_EQ(::truncate(path_.c_str(), 0), 0);
  Entry cached(archive.get(), zipGetEntry(archive.get(), "Aa"));
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->size, 2);
}

TEST_F(ZipEntryTest, ZipReadStaysWithinTheEntry) {
  ZipHandle archive(Open({{.name = "ten", .data = "0123456789"}, {.name = "next", .data = "N"}}));
  ASSERT_TRUE(archive);
  Entry entry(archive.get(), zipGetNextEntry(archive.get(), 0));
  ASSERT_TRUE(entry);
  char buffer[100];
  EXPECT_EQ(zipRead(archive.get(), entry.get(), 9, buffer, 100), 1);
  EXPECT_EQ(buffer[0], '9');
  EXPECT_EQ(archive->message, nullptr);
  EXPECT_EQ(zipRead(archive.get(), entry.get(), 9, buffer, 0), 0);
  for (int32_t position : {10, -1}) {
    EXPECT_EQ(zipRead(archive.get(), entry.get(), position, buffer, 5), -1);
    EXPECT_STREQ(archive->message, "zipRead: specified offset out of range");
  }
}

TEST_F(ZipEntryTest, WritesStoredDeflatedEmptyAndLargeEntries) {
  std::string large = Compressible(300000);
  ZipHandle archive(Open({{.name = "stored", .data = "plain text"},
                       {.name = "deflated", .data = Compressible(5000), .deflate = true},
                       {.name = "empty"},
                       {.name = "empty-deflated", .deflate = true},
                       {.name = "large", .data = large, .deflate = true},
                       {.name = "large-stored", .data = Random(40000, 1)}}));
  ASSERT_TRUE(archive);
  const std::string expected[] = {"plain text", Compressible(5000), "", "", large,
                                  Random(40000, 1)};
  for (int32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    WriteFile(dir_ / "out", std::string(500000, '?'));  // an older, longer file is replaced
    std::string content;
    EXPECT_EQ(Extract(archive.get(), i, &content), 1);
    EXPECT_EQ(content, expected[i]);
  }
  struct stat st;
  ASSERT_EQ(::stat((dir_ / "out").c_str(), &st), 0);
  Entry entry(archive.get(), zipGetNextEntry(archive.get(), 0));
  EXPECT_EQ(zipReadEntry(archive.get(), entry.get(), (dir_ / "no/such/dir").c_str()), 0);
}

// zipReadEntry on its own checks the CRC-32 as extraction does.
TEST_F(ZipEntryTest, ReadEntryFailsOnContentThatDoesNotMatchItsCrc) {
  std::string text = Compressible(20000);
  ZipHandle archive(Open({{.name = "stored", .data = text, .crc = Crc(text) + 1},
                       {.name = "deflated", .data = text, .deflate = true, .crc = 0},
                       {.name = "empty", .data = "", .crc = 7},
                       {.name = "good", .data = text, .deflate = true}}));
  ASSERT_TRUE(archive);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Extract(archive.get(), i), 0) << i;
    EXPECT_STREQ(archive->message, kCrcMismatch);
  }
  EXPECT_EQ(Extract(archive.get(), 3), 1);
}

TEST_F(ZipEntryTest, InflateRefusesTruncatedOverlongAndMissizedStreams) {
  std::string text = Compressible(50000);
  std::string deflated = Deflate(text);
  std::string small = Deflate("hello hello hello");
  ZipHandle archive(Open({
      {.name = "stored", .data = "x"},
      // The stream ends before the declared size is reached.
      {.name = "short", .data = text, .deflate = true, .cenSize = 50001},
      // The header understates the size: inflation must stop at it.
      {.name = "understated", .data = text, .deflate = true, .cenSize = 20000},
      // The data is cut: all of it is consumed and the stream never ends.
      {.name = "cut", .data = text, .method = 8, .stored = deflated.substr(0, deflated.size() / 2)},
      // Compressed bytes remain after the stream's end.
      {.name = "trailing", .data = "hello hello hello", .method = 8,
       .stored = small + std::string(5000, 'j')},
      {.name = "good", .data = text, .deflate = true},
  }));
  ASSERT_TRUE(archive);

  EXPECT_EQ(InflateText(archive.get(), 0), "inflateFully: entry not compressed");
  EXPECT_EQ(InflateText(archive.get(), 1), "inflateFully: Unexpected end of stream");
  std::string partial;
  EXPECT_EQ(InflateText(archive.get(), 2, &partial), "inflateFully: Unexpected end of stream");
  EXPECT_LE(partial.size(), 20000u);
  EXPECT_EQ(InflateText(archive.get(), 3), "inflateFully: Unexpected end of stream");
  EXPECT_EQ(InflateText(archive.get(), 4), "inflateFully: Unexpected end of stream");
  std::string content;
  EXPECT_EQ(InflateText(archive.get(), 5, &content), "");
  EXPECT_EQ(content, text);
  for (int32_t i = 1; i < 5; ++i) EXPECT_EQ(Extract(archive.get(), i), 0) << i;
}

TEST_F(ZipEntryTest, ArchiveCutInsideEntryDataFails) {
  ZipHandle archive(Open({{.name = "deflated", .data = Random(30000, 2), .deflate = true},
                       {.name = "stored", .data = Random(30000, 3)}}));
  ASSERT_TRUE(archive);
  ASSERT_EQ(::truncate(path_.c_str(), 45000), 0);
  EXPECT_EQ(Extract(archive.get(), 1), 0);
  ASSERT_EQ(::truncate(path_.c_str(), 10000), 0);
  EXPECT_EQ(InflateText(archive.get(), 0), "inflateFully: Unexpected end of file");
}

TEST_F(ZipEntryTest, StoredEntryRunningPastTheFileOrNegativeFails) {
  ZipHandle archive(Open({{.name = "overlong", .data = "abc", .cenSize = 100000},
                       {.name = "negative", .data = "abc", .cenSize = 0x80000001u}}));
  ASSERT_TRUE(archive);
  EXPECT_EQ(Extract(archive.get(), 0), 0);
  EXPECT_EQ(Extract(archive.get(), 1), 0);
}

TEST_F(ZipEntryTest, CorruptDeflateDataFailsAndNeverLoops) {
  std::string text = Compressible(20000);
  std::string deflated = Deflate(text);
  std::vector<ZipItem> entries;
  for (unsigned seed = 0; seed < 40; ++seed) {
    std::string data = seed < 20 ? Random(3000, seed) : deflated;
    if (seed >= 20) {
      std::mt19937 generator(seed);
      for (int flips = 0; flips < 4; ++flips) data[generator() % data.size()] ^= 0x5A;
    }
    entries.push_back({.name = std::to_string(seed), .data = text, .method = 8, .stored = data});
  }
  ZipHandle archive(Open(entries));
  ASSERT_TRUE(archive);
  for (int32_t i = 0; i < 40; ++i) {
    std::string content;
    int result = Extract(archive.get(), i, &content);
    // A flip may leave the stream decodable to the same bytes; anything else must fail.
    if (result == 1) {
      EXPECT_EQ(content, text) << i;
    }
    if (i < 20) {
      EXPECT_EQ(result, 0) << i;
    }
  }
}

}  // namespace
}  // namespace launcher::test

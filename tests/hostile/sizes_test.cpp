// Entries whose sizes lie in either direction, stored and deflated, and deflate bombs.
#include <sys/stat.h>

#include "hostile/hostile_support.h"

namespace launcher::hostile {
namespace {

using test::BuildZip;
using test::BuiltZip;
using test::Deflate;
using test::PutLE16;
using test::PutLE32;
using test::ZipItem;

// Text that deflate can't shrink much, so that a cut in its stream lands mid-stream.
std::string Noise(size_t size) {
  std::string text(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : text) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return text;
}

// A size past the end of any launcher file.
constexpr uint32_t kBeyondFile = 64u << 20;

ZipItem WithSizes(ZipItem item, std::optional<uint32_t> size,
                  std::optional<uint32_t> compressedSize = std::nullopt) {
  item.cenSize = size;
  item.cenCompressedSize = compressedSize;
  return item;
}

// Checks that a refused run wrote no more of file than its header declared.
std::function<void(const std::string&)> WroteAtMost(std::string file, off_t limit) {
  return [file, limit](const std::string& workdir) {
    struct stat st = {};
    if (::stat((workdir + "/" + file).c_str(), &st) == 0) {
      EXPECT_LE(st.st_size, limit) << file << " grew past its declared size";
    }
  };
}

TEST(HostileSizes, EntriesWhoseSizesLieAreRefused) {
  std::string noise = Noise(200000);
  std::string stream = Deflate(noise);
  uint32_t streamSize = static_cast<uint32_t>(stream.size());
  ZipItem unterminated = Deflated("unterminated", noise);
  unterminated.stored = stream.substr(0, stream.size() - 64);
  ZipItem garbage = Deflated("garbage", noise);
  garbage.stored = std::string(4096, '\xff');

  HostileCase understated = Refused(
      "deflated-size-understated", {WithSizes(Deflated("understated", noise), 1000)});
  understated.inspectLeftover = WroteAtMost("understated", 1000);

  std::vector<HostileCase> cases = {
      understated,
      Refused("stored-size-past-end", {WithSizes(Stored("past", "data"), kBeyondFile)}),
      Refused("deflated-size-overstated",
              {WithSizes(Deflated("overstated", noise), static_cast<uint32_t>(noise.size() + 1))}),
      Refused("deflated-compressed-understated",
              {WithSizes(Deflated("cut", noise), std::nullopt, streamSize / 2)}),
      Refused("deflated-compressed-past-end",
              {WithSizes(Deflated("long", noise), std::nullopt, streamSize + kBeyondFile)}),
      Refused("deflated-compressed-negative",
              {WithSizes(Deflated("negative", noise), std::nullopt, 0x80000000u)}),
      Refused("deflated-stream-unterminated", {unterminated}),
      Refused("deflated-garbage", {garbage}),
      // Cut short by its size, the content no longer matches the CRC of the whole.
      Refused("stored-size-understated", {WithSizes(Stored("short", "0123456789"), 4)}),
  };
  // Sizes of 2 GiB and more: refused, or found too large for the disk first.
  for (auto [label, item] : {std::pair{"stored-size-negative", Stored("big", "data")},
                             std::pair{"deflated-size-negative", Deflated("big", noise)}}) {
    HostileCase c = Refused(label, {WithSizes(item, 0xFFFFFFFFu)});
    c.allowed.insert(Outcome::kNoSpace);
    cases.push_back(c);
  }
  RunCases(cases);
}

// 256 MiB of zeros in about 250 KiB, declared as 1 MiB: refused after at most 1 MiB written,
// long before the disk that the free-space check measured could fill.
TEST(HostileSizes, DeflateBombThatUnderstatesItsSizeIsStoppedAtTheDeclaredSize) {
  static const std::string bomb = Deflate(std::string(256u << 20, '\0'), 9);
  ZipItem item = Deflated("bomb", "");
  item.stored = bomb;
  item.cenSize = 1u << 20;
  HostileCase c = Refused("deflate-bomb", {item});
  c.inspectLeftover = WroteAtMost("bomb", 1 << 20);
  RunCases({c});
}

// Lies that the reader ignores or that stay inside the file: what the central directory
// says is what arrives.
TEST(HostileSizes, SizesTheReaderDoesNotRelyOnStillExtractExactly) {
  std::vector<HostileCase> cases;
  auto add = [&cases](std::string label, std::vector<ZipItem> entries,
                      std::map<std::string, std::string> files,
                      std::function<void(BuiltZip&)> patch = {}) {
    HostileCase c;
    c.label = std::move(label);
    c.allowed = {Outcome::kExtracted};
    c.payload = [entries, patch](const World&) {
      BuiltZip zip = BuildZip(WithProgram(entries));
      if (patch) patch(zip);
      return zip.bytes;
    };
    c.files = ProgramFiles();
    c.files.insert(files.begin(), files.end());
    cases.push_back(c);
  };
  ZipItem understated = WithSizes(Stored("short", "0123456789"), 4);
  understated.crc = test::Crc("0123");
  add("stored-size-understated-with-its-crc", {understated}, {{"short", "0123"}});
  add("stored-compressed-size-ignored", {WithSizes(Stored("plain", "plain data"), 10, 12345)},
      {{"plain", "plain data"}});
  // Followed by the directory, the overstated stream still ends inside its first read.
  add("deflated-compressed-overstated", {WithSizes(Deflated("tail", "hello hello"), 11, 40)},
      {{"tail", "hello hello"}});
  add("empty-deflated", {Deflated("empty", "")}, {{"empty", ""}});
  // The LOC copies of method, CRC and sizes play no part: the central directory governs.
  add("loc-fields-lie", {Deflated("lies", "the central directory governs")},
      {{"lies", "the central directory governs"}}, [](BuiltZip& zip) {
        size_t loc = zip.loc.back();
        PutLE16(zip.bytes, loc + 8, 99);
        for (size_t field : {14, 18, 22}) PutLE32(zip.bytes, loc + field, 0xFFFFFFFFu);
      });
  RunCases(cases);
}

}  // namespace
}  // namespace launcher::hostile

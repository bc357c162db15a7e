// Archives whose structure is hostile: overlapping entries, END comments at the search
// limit, the largest entry count, and directories that claim more than the file holds.
#include <cstdio>

#include "hostile/hostile_support.h"

namespace launcher::hostile {
namespace {

using test::BuildZip;
using test::BuiltZip;
using test::PutLE16;
using test::PutLE32;
using test::ZipItem;

// A case over the program's files and entries, patched after building.
HostileCase Patched(std::string label, std::set<Outcome> allowed, std::vector<ZipItem> entries,
                    std::function<void(BuiltZip&)> patch) {
  HostileCase c;
  c.label = std::move(label);
  c.allowed = std::move(allowed);
  c.payload = [entries, patch](const World&) {
    BuiltZip zip = BuildZip(WithProgram(entries));
    patch(zip);
    return zip.bytes;
  };
  return c;
}

// The stored LOC offset field of CEN header i.
size_t LocField(const BuiltZip& zip, size_t i) { return zip.cen[i] + 42; }

TEST(HostileStructure, OverlappingEntriesExtractWhatTheirHeadersSay) {
  // Two directory entries share one local header: the same file is written twice.
  HostileCase shared = Patched(
      "shared-local-header", {Outcome::kExtracted},
      {Stored("shared", "shared data"), Stored("other", "shared data")}, [](BuiltZip& zip) {
        PutLE32(zip.bytes, LocField(zip, 3), static_cast<uint32_t>(zip.loc[2]));
      });
  shared.files = ProgramFiles();
  shared.files["shared"] = "shared data";

  // One entry's local header and data lie inside another entry's stored data.
  BuiltZip inner = BuildZip({Stored("inner", "inner data")});
  std::string embedded = "head:" + inner.bytes.substr(0, inner.cenStart);
  HostileCase nested = Patched(
      "local-header-inside-data", {Outcome::kExtracted},
      {Stored("outer", embedded), Stored("inner", "inner data")}, [](BuiltZip& zip) {
        size_t inside = zip.loc[2] + 30 + std::string("outer").size() + 5;
        PutLE32(zip.bytes, LocField(zip, 3), static_cast<uint32_t>(inside));
      });
  nested.files = ProgramFiles();
  nested.files["outer"] = embedded;
  nested.files["inner"] = "inner data";
  RunCases({shared, nested});
}

// The END header is looked for in the last 65,535 bytes only: with a comment of 65,513
// bytes it is the first byte of that span; one more byte and no archive can be read.
TEST(HostileStructure, EndCommentsAtTheSearchLimit) {
  auto commented = [](std::string label, size_t length, Outcome outcome) {
    HostileCase c;
    c.label = std::move(label);
    c.allowed = {outcome};
    c.payload = [length](const World&) {
      return BuildZip(ProgramEntries(), "", std::string(length, 'c')).bytes;
    };
    if (outcome == Outcome::kExtracted) c.files = ProgramFiles();
    return c;
  };
  RunCases({commented("comment-65513", 65513, Outcome::kExtracted),
            commented("comment-65514", 65514, Outcome::kUnreadable),
            commented("comment-65535", 65535, Outcome::kUnreadable)});
}

TEST(HostileStructure, LargestEntryCountExtractsAndOneMoreIsUnreadable) {
  auto many = [](std::string label, size_t count, Outcome outcome) {
    std::vector<ZipItem> entries = ProgramEntries();
    std::map<std::string, std::string> files = ProgramFiles();
    for (size_t i = entries.size(); i < count; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "many/%03zu/%05zu", i / 1000, i);
      entries.push_back(Stored(name, std::to_string(i)));
      files[name] = std::to_string(i);
    }
    HostileCase c;
    c.label = std::move(label);
    c.allowed = {outcome};
    c.payload = [entries](const World&) { return BuildZip(entries).bytes; };
    if (outcome == Outcome::kExtracted) c.files = files;
    return c;
  };
  RunCases({many("65534-entries", 65534, Outcome::kExtracted),
            many("65535-entries", 65535, Outcome::kUnreadable)});
}

// An END header that the reader can't follow leaves no readable archive.
TEST(HostileStructure, DirectoriesClaimingMoreThanTheFileHoldsAreUnreadable) {
  std::set<Outcome> none = {Outcome::kUnreadable};
  std::vector<ZipItem> one = {Stored("x", "x")};
  RunCases({
      Patched("directory-size-huge", none, one,
              [](BuiltZip& zip) { PutLE32(zip.bytes, zip.end + 12, 0x7FFFFFFFu); }),
      Patched("directory-size-negative", none, one,
              [](BuiltZip& zip) { PutLE32(zip.bytes, zip.end + 12, 0x80000000u); }),
      Patched("directory-reaching-into-launcher", none, one,
              [](BuiltZip& zip) {
                PutLE32(zip.bytes, zip.end + 12,
                        static_cast<uint32_t>(zip.end - zip.cenStart + 100000));
              }),
      Patched("directory-offset-huge", none, one,
              [](BuiltZip& zip) { PutLE32(zip.bytes, zip.end + 16, 0x7FFFFFFFu); }),
      Patched("entry-count-one-more", none, one,
              [](BuiltZip& zip) { PutLE16(zip.bytes, zip.end + 10, 4); }),
      Patched("entry-count-65535", none, one,
              [](BuiltZip& zip) { PutLE16(zip.bytes, zip.end + 10, 0xFFFF); }),
      Patched("name-past-directory", none, one,
              [](BuiltZip& zip) { PutLE16(zip.bytes, zip.cen[2] + 28, 0xFFFF); }),
      Patched("comment-past-directory", none, one,
              [](BuiltZip& zip) { PutLE16(zip.bytes, zip.cen[2] + 32, 1000); }),
  });
}

// A local header that can't be read is damage, not the end of the directory: the run must
// not go on with the entries after it missing.
TEST(HostileStructure, EntriesWhoseLocalHeaderCannotBeReadAreRefused) {
  std::set<Outcome> refused = {Outcome::kRefused};
  std::vector<ZipItem> two = {Stored("readable", "x"), Stored("after", "y")};
  RunCases({
      Patched("local-header-past-end", refused, two,
              [](BuiltZip& zip) { PutLE32(zip.bytes, LocField(zip, 2), 0x7FFFFFF0u); }),
      Patched("local-header-at-directory", refused, two,
              [](BuiltZip& zip) {
                PutLE32(zip.bytes, LocField(zip, 2), static_cast<uint32_t>(zip.cenStart));
              }),
      Patched("local-signature-wrong", refused, two,
              [](BuiltZip& zip) { PutLE32(zip.bytes, zip.loc[2], 0x04034B51u); }),
      Patched("local-name-past-end", refused, {Stored("last", "z")},
              [](BuiltZip& zip) { PutLE16(zip.bytes, zip.loc[2] + 26, 0xFFFF); }),
  });
}

}  // namespace
}  // namespace launcher::hostile

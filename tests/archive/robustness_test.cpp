// Damaged archives: every cut and many byte flips end in a clean refusal or a bounded
// extraction inside the target directory, never a crash, a hang or a stray write.
#include <dirent.h>
#include <gtest/gtest.h>

#include <set>

#include "archive/extract.h"
#include "archive_fixture.h"
#include "zip_builder.h"

namespace launcher::test {
namespace {

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* item = ::readdir(d)) names.insert(item->d_name);
    ::closedir(d);
  }
  return names;
}

class RobustnessTest : public ::testing::Test {
 protected:
  RobustnessTest() {
    std::string text;
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + "\n";
    valid_ = BuildZip({{.name = "a/stored.txt", .data = "stored data"},
                       {.name = "a/deflated.txt", .data = text, .deflate = true},
                       {.name = "d/"},
                       {.name = "META-INF/x", .data = "m", .cenExtra = "ce", .locExtra = "loc",
                        .comment = "entry comment"}},
                      "stub!", "archive comment");
  }

  // Opens, walks by index and by name, extracts; the archive must stay usable throughout.
  void Exercise(const std::string& bytes) {
    std::string path = Store(dir_, bytes);
    int32_t code = 0;
    ZipArchive* archive = zipOpen(path.c_str(), &code);
    if (!archive) {
      EXPECT_TRUE(code == kZipInvalid) << code;
      return;
    }
    for (int32_t i = 0; i < archive->entryCount; ++i) {
      ZipEntry* entry = zipGetNextEntry(archive, i);
      if (!entry) continue;
      std::string name = entry->name;
      zipFreeEntry(archive, entry);
      zipFreeEntry(archive, zipGetEntry(archive, name.c_str()));
    }
    UnzipFiles(archive, (dir_ / "out").c_str(), nullptr);
    zipClose(archive);
    EXPECT_EQ(zfiles, nullptr);
    std::set<std::string> names = Names(dir_.path());
    names.erase("out");
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "archive.zip"})) << "a stray write";
    RemoveTree(dir_ / "out");
  }

  ScratchDir dir_;
  BuiltZip valid_;
};

TEST_F(RobustnessTest, EveryCutOfAValidArchiveIsHandled) {
  for (size_t length = 0; length <= valid_.bytes.size(); ++length) {
    SCOPED_TRACE(length);
    Exercise(valid_.bytes.substr(0, length));
    if (HasFailure()) return;
  }
}

TEST_F(RobustnessTest, EveryFlippedByteIsHandled) {
  for (size_t at = 0; at < valid_.bytes.size(); ++at) {
    for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}, uint8_t{0x80}, uint8_t{0x2F}}) {
      SCOPED_TRACE(std::to_string(at) + " ^ " + std::to_string(mask));
      std::string bytes = valid_.bytes;
      bytes[at] = static_cast<char>(bytes[at] ^ mask);
      Exercise(bytes);
      if (HasFailure()) return;
    }
  }
}

TEST_F(RobustnessTest, LargeValuesInSizeAndOffsetFieldsAreHandled) {
  // Sizes, offsets and lengths set to the extremes of their fields in every header.
  std::vector<size_t> fields;
  for (size_t loc : valid_.loc) for (size_t f : {18, 22, 26, 28}) fields.push_back(loc + f);
  for (size_t cen : valid_.cen) for (size_t f : {20, 24, 28, 30, 32, 42}) fields.push_back(cen + f);
  for (size_t f : {10, 12, 16, 20}) fields.push_back(valid_.end + f);
  for (size_t at : fields) {
    for (uint32_t value : {0u, 1u, 0x7FFFu, 0xFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::to_string(at) + " = " + std::to_string(value));
      std::string bytes = valid_.bytes;
      PutLE16(bytes, at, static_cast<uint16_t>(value));
      Exercise(bytes);
      PutLE32(bytes, at, value);
      Exercise(bytes);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace launcher::test

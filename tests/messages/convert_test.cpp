// Conversion of catalog texts into the codeset of a locale.
#include <string>

#include <gtest/gtest.h>

#include "messages/catalog.h"
#include "messages/convert.h"

namespace launcher {
namespace {

TEST(ConvertTest, LatinOneGetsSingleByteGuillemetsAndAccents) {
  EXPECT_EQ(ConvertFromUtf8("\u00ab%s\u00bb S\u00ed", "ISO-8859-1"), "\xab%s\xbb S\xed");
}

TEST(ConvertTest, EucJpGetsTwoByteCharacters) {
  // 検査中 in EUC-JP.
  EXPECT_EQ(ConvertFromUtf8("Java\u691c\u67fb\u4e2d\n", "EUC-JP"),
            "Java\xb8\xa1\xba\xba\xc3\xe6\n");
}

TEST(ConvertTest, UnrepresentableTextComesBackEmptyNotAsUtf8) {
  const char* japanese = FindCatalogEntry("messages_ja_checking_disk_space");
  ASSERT_NE(japanese, nullptr);
  EXPECT_EQ(ConvertFromUtf8(japanese, "ISO-8859-1"), "");
  const char* spanish = FindCatalogEntry("messages_es_connecting_x11");
  ASSERT_NE(spanish, nullptr);
  EXPECT_EQ(ConvertFromUtf8(spanish, "ANSI_X3.4-1968"), "");
}

TEST(ConvertTest, MissingCodesetOrConverterKeepsTheUtf8Text) {
  EXPECT_EQ(ConvertFromUtf8("S\u00ed", nullptr), "S\u00ed");
  EXPECT_EQ(ConvertFromUtf8("S\u00ed", "NO-SUCH-CODESET-42"), "S\u00ed");
  EXPECT_EQ(ConvertFromUtf8(nullptr, "UTF-8"), "");
}

TEST(ConvertTest, InvalidUtf8InputFailsInsteadOfPassingThrough) {
  EXPECT_EQ(ConvertFromUtf8("abc\xff", "UTF-8"), "");
  // A sequence cut short at the end of the text.
  EXPECT_EQ(ConvertFromUtf8("abc\xc3", "ISO-8859-1"), "");
}

TEST(ConvertTest, OutputLongerThanOneBufferIsConvertedWhole) {
  // 3000 input bytes become 6000 output bytes: several buffer growths.
  std::string text;
  for (int i = 0; i < 1500; ++i) text += "ab";
  std::string out = ConvertFromUtf8(text.c_str(), "UTF-16LE");
  ASSERT_EQ(out.size(), 6000u);
  EXPECT_EQ(out.substr(0, 4), std::string("a\0b\0", 4));
  EXPECT_EQ(out.substr(5996), std::string("a\0b\0", 4));
  // Exactly at a buffer boundary.
  std::string edge(1025, 'x');
  EXPECT_EQ(ConvertFromUtf8(edge.c_str(), "ISO-8859-1"), edge);
  edge += 'y';
  EXPECT_EQ(ConvertFromUtf8(edge.c_str(), "ISO-8859-1"), edge);
}

TEST(ConvertTest, IrreversibleConversionCountIsSuccess) {
  // Transliteration makes iconv return a positive count; the output is still good.
  EXPECT_EQ(ConvertFromUtf8("a\u00abb", "ASCII//TRANSLIT"), "a<<b");
}

TEST(ConvertTest, StatefulCodesetReturnsToTheInitialShiftState) {
  // Without the final reset the ISO-2022-JP text would end still shifted into JIS X 0208.
  EXPECT_EQ(ConvertFromUtf8("\u691c", "ISO-2022-JP"), "\x1b$B8!\x1b(B");
  EXPECT_EQ(ConvertFromUtf8("\u691ca", "ISO-2022-JP"), "\x1b$B8!\x1b(Ba");
}

}  // namespace
}  // namespace launcher

// The catalog (copying mistakes between languages), lookup under real locales, and the
// conversion of texts to the locale's codeset.
#include <langinfo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "messages/catalog.h"
#include "messages/catalog_tables.h"
#include "messages/convert.h"
#include "messages/output.h"
#include "support/child.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

// Every English text is translated with as many %s (the translated usage texts leave out the
// minimum version; the Spanish uninstall usage is kept under "usage"); every conversion is %s;
// all but the labels end in '\n'.
TEST(Catalog, TranslationsMatchTheEnglishTexts) {
  const std::set<std::string> labels = {"ok", "yes", "no", "cancel", "setup_title", "uninstall_title"};
  std::map<std::string, long> english;  // key -> number of conversions
  for (auto [table, prefix] : {std::pair{EnglishCatalog(), "messages_"}, std::pair{SpanishCatalog(), "messages_es_"},
                               std::pair{JapaneseCatalog(), "messages_ja_"}}) {
    const bool translation = !english.empty();  // English comes first
    std::set<std::string> keys;
    for (const CatalogEntry& entry : table) {
      std::string key = entry.name + std::strlen(prefix);
      if (key == "usage") key = "uninstallusage";
      long conversions = std::ranges::count(std::string(entry.text), '%');
      if (!translation) english[key] = conversions;
      ASSERT_TRUE(english.count(key)) << entry.name;
      EXPECT_EQ(conversions, english[key] - (translation && key.ends_with("installusage") ? 1 : 0)) << entry.name;
      keys.insert(key);
      for (const char* p = std::strchr(entry.text, '%'); p; p = std::strchr(p + 1, '%')) EXPECT_EQ(p[1], 's') << entry.name;
      EXPECT_EQ(entry.text[std::strlen(entry.text) - 1] == '\n', !labels.count(key)) << entry.name;
      // An error without its "not" tells the user the opposite of what happened.
      EXPECT_EQ(std::strstr(entry.text, "Could "), std::strstr(entry.text, "Could not ")) << entry.name;
    }
    EXPECT_EQ(keys.size(), english.size()) << prefix << " lacks keys";
  }
}

// A text comes in the locale's language; for the windows, in the codeset of the process
// locale, which is cut to its legacy base (es_ES.UTF-8 to es_ES, which is Latin-1), while the
// terminal still gets the codeset that its environment named.
TEST(Catalog, TextsComeInTheLocalesLanguageAndCodeset) {
  enum Via { kLookup, kError, kStatus };
  const std::tuple<const char*, Via, const char*, std::string> kRows[] = {
      {"es_ES", kLookup, "no_valid_arg", "Error: \xab%s\xbb no es un argumento v\xe1lido.\n"},
      {"es_MX", kLookup, "ok", "OK"}, {"es_ES", kLookup, "no such key", ""},
      {"ja_JP.eucJP", kLookup, "checking_disk_space", "\xa5\xc7\xa5\xa3\xa5\xb9\xa5\xaf\xa5\xb9\xa5\xda\xa1\xbc\xa5\xb9\xa4\xce\xcd\xc6\xce\xcc\xa4\xf2\xb8\xa1\xba\xba\xc3\xe6...\n"},
      {"de_DE", kLookup, "checking_disk_space", "Checking available disk space...\n"},
      {"es_ES.UTF-8", kError, "no_valid_arg", "Error: \xc2\xab-x\xc2\xbb no es un argumento v\xc3\xa1lido.\n"},
      {"es_ES.ISO-8859-1", kError, "no_valid_arg", "Error: \xab-x\xbb no es un argumento v\xe1lido.\n"},
      {"ja_JP.UTF-8", kStatus, "checking_java", "Java(TM) 2 Runtime Environment\xe6\xa4\x9c\xe6\x9f\xbb\xe4\xb8\xad...\n"},
      {"ja_JP.eucJP", kStatus, "checking_java", "Java(TM) 2 Runtime Environment\xb8\xa1\xba\xba\xc3\xe6...\n"},
  };
  for (const auto& [locale, via, key, text] : kRows) {
    ScratchDir dir;
    EXPECT_EQ(InChild([&] {
                ::setenv("LC_ALL", locale, 1);
                if (via == kLookup) return GetLocalizedMessage(key);
                std::freopen((dir / "out").c_str(), "w", via == kStatus ? stdout : stderr);
                via == kStatus ? StatusMessage(key) : ErrorMessage(key, "-x");
                std::fflush(nullptr);
                return ReadFile(dir / "out");
              }),
              text) << locale << " " << key;
  }
}

TEST(Convert, TextsArriveWholeInTheTargetCodeset) {
  std::string pairs, utf16;
  for (int i = 0; i < 1500; ++i) pairs += "ab", utf16 += std::string("a\0b\0", 4);
  const std::tuple<const char*, const char*, std::string> kRows[] = {
      {"\u691c", "ISO-8859-1", ""},  // not representable: nothing rather than UTF-8
      {"S\u00ed", "NO-SUCH-CODESET", "S\u00ed"},
      {"abc\xc3", "ISO-8859-1", ""},  // cut short
      {pairs.c_str(), "UTF-16LE", utf16},  // several times the first buffer
      {"a\u00abb", "ASCII//TRANSLIT", "a<<b"}, {"\u691ca", "ISO-2022-JP", "\x1b$B8!\x1b(Ba"},
      {"\u691c", "ISO-2022-JP", "\x1b$B8!\x1b(B"},  // back to the initial shift state
  };
  for (const auto& [text, codeset, expected] : kRows) EXPECT_EQ(ConvertFromUtf8(text, codeset), expected) << codeset;
  EXPECT_EQ(ConvertFromUtf8("S\u00ed", nullptr), "S\u00ed");
}

}  // namespace
}  // namespace launcher::test

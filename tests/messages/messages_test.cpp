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

// Every English key exists in the other languages with as many %s (the usage texts of the
// translations leave out the minimum version); every conversion is %s; lines end in '\n'.
TEST(Catalog, TranslationsMatchTheEnglishTexts) {
  std::map<std::string, std::string> en;
  for (const CatalogEntry& entry : EnglishCatalog()) en[entry.name + std::strlen("messages_")] = entry.text;
  for (auto [table, prefix] : {std::pair{SpanishCatalog(), "messages_es_"}, std::pair{JapaneseCatalog(), "messages_ja_"}}) {
    size_t found = 0;
    for (const CatalogEntry& entry : table) {
      std::string key = entry.name + std::strlen(prefix);
      if (key == "usage") continue;  // Spanish only
      ASSERT_TRUE(en.count(key)) << entry.name;
      ++found;
      int shorter = key == "installusage" || (key == "uninstallusage" && prefix[9] == 'j') ? 1 : 0;
      EXPECT_EQ(std::ranges::count(std::string(entry.text), '%'), std::ranges::count(en[key], '%') - shorter) << entry.name;
    }
    EXPECT_GE(found + 1, en.size()) << prefix << " lacks keys";  // Spanish has no uninstallusage
  }
  const std::set<std::string> labels = {"ok", "yes", "no", "cancel", "setup_title", "uninstall_title"};
  for (auto [table, prefix] : {std::pair{EnglishCatalog(), "messages_"}, std::pair{SpanishCatalog(), "messages_es_"},
                               std::pair{JapaneseCatalog(), "messages_ja_"}}) {
    for (const CatalogEntry& entry : table) {
      for (const char* p = std::strchr(entry.text, '%'); p; p = std::strchr(p + 1, '%')) EXPECT_EQ(p[1], 's') << entry.name;
      bool label = labels.count(entry.name + std::strlen(prefix)) > 0;
      EXPECT_EQ(entry.text[std::strlen(entry.text) - 1] == '\n', !label) << entry.name;
      // An error without its "not" tells the user the opposite of what happened.
      EXPECT_EQ(std::strstr(entry.text, "Could "), std::strstr(entry.text, "Could not ")) << entry.name;
    }
  }
}

TEST(Catalog, TextsComeInTheLocalesLanguageAndCodeset) {
  const std::tuple<const char*, const char*, std::string> kRows[] = {
      {"es_ES", "no_valid_arg", "Error: \xab%s\xbb no es un argumento v\xe1lido.\n"},
      {"es_MX", "ok", "OK"}, {"es_ES", "no such key", ""},
      {"ja_JP.eucJP", "checking_disk_space",
       "\xa5\xc7\xa5\xa3\xa5\xb9\xa5\xaf\xa5\xb9\xa5\xda\xa1\xbc\xa5\xb9\xa4\xce\xcd\xc6\xce\xcc\xa4\xf2\xb8\xa1\xba\xba\xc3\xe6...\n"},
      {"de_DE", "checking_disk_space", "Checking available disk space...\n"},
  };
  for (const auto& [locale, key, text] : kRows) {
    EXPECT_EQ(InChild([&] { return ::setenv("LC_ALL", locale, 1), GetLocalizedMessage(key); }), text) << locale << " " << key;
  }
}

// The process locale is cut to its legacy base (es_ES.UTF-8 to es_ES, which is Latin-1) for
// the windows; the terminal still gets the codeset that its environment named.
TEST(Catalog, TerminalGetsTheCodesetTheEnvironmentNamed) {
  const std::tuple<const char*, bool, std::string> kRows[] = {
      {"es_ES.UTF-8", false, "Error: \xc2\xab-x\xc2\xbb no es un argumento v\xc3\xa1lido.\n"},
      {"es_ES.ISO-8859-1", false, "Error: \xab-x\xbb no es un argumento v\xe1lido.\n"},
      {"ja_JP.UTF-8", true, "Java(TM) 2 Runtime Environment\xe6\xa4\x9c\xe6\x9f\xbb\xe4\xb8\xad...\n"},
      {"ja_JP.eucJP", true, "Java(TM) 2 Runtime Environment\xb8\xa1\xba\xba\xc3\xe6...\n"},
  };
  for (const auto& [locale, status, text] : kRows) {
    ScratchDir dir;
    InChild([&] {
      ::setenv("LC_ALL", locale, 1);
      std::freopen((dir / "out").c_str(), "w", status ? stdout : stderr);
      status ? StatusMessage("checking_java") : ErrorMessage("no_valid_arg", "-x");
      std::fflush(nullptr);
      return std::string();
    });
    EXPECT_EQ(ReadFile(dir / "out"), text) << locale;
  }
}

TEST(Convert, TextsArriveWholeInTheTargetCodeset) {
  std::string pairs, utf16;
  for (int i = 0; i < 1500; ++i) pairs += "ab", utf16 += std::string("a\0b\0", 4);
  const std::tuple<const char*, const char*, std::string> kRows[] = {
      {"\u00ab%s\u00bb S\u00ed", "ISO-8859-1", "\xab%s\xbb S\xed"}, {"Java\u691c\u67fb\u4e2d\n", "EUC-JP", "Java\xb8\xa1\xba\xba\xc3\xe6\n"},
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

// Properties of the built-in catalog that catch copying mistakes in its texts.
#include <cstring>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "messages/catalog.h"
#include "messages/catalog_tables.h"
#include "messages/convert.h"

namespace launcher {
namespace {

// key -> text of one language, checking that every entry name carries the right prefix.
std::map<std::string, std::string> Keys(std::span<const CatalogEntry> table,
                                        const std::string& prefix) {
  std::map<std::string, std::string> keys;
  for (const CatalogEntry& entry : table) {
    std::string name = entry.name;
    EXPECT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
    std::string key = name.substr(prefix.size());
    EXPECT_TRUE(keys.emplace(key, entry.text).second) << "duplicate entry " << name;
  }
  return keys;
}

std::map<std::string, std::string> English() { return Keys(EnglishCatalog(), "messages_"); }
std::map<std::string, std::string> Spanish() { return Keys(SpanishCatalog(), "messages_es_"); }
std::map<std::string, std::string> Japanese() { return Keys(JapaneseCatalog(), "messages_ja_"); }

int Placeholders(const std::string& text) {
  int count = 0;
  for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
    ++count;
  }
  return count;
}

TEST(CatalogTest, EveryKeyExistsInEveryLanguageExceptTheKnownGaps) {
  auto en = English();
  auto es = Spanish();
  auto ja = Japanese();
  EXPECT_EQ(en.size(), 41u);
  EXPECT_EQ(es.size() + ja.size() + en.size(), 123u);
  for (const auto& [key, text] : en) {
    EXPECT_TRUE(ja.count(key)) << "Japanese lacks " << key;
    if (key != "uninstallusage") {
      EXPECT_TRUE(es.count(key)) << "Spanish lacks " << key;
    }
  }
  for (const auto& [key, text] : ja) EXPECT_TRUE(en.count(key)) << "stray Japanese " << key;
  for (const auto& [key, text] : es) {
    if (key != "usage") {
      EXPECT_TRUE(en.count(key)) << "stray Spanish " << key;
    }
  }
  EXPECT_FALSE(es.count("uninstallusage"));
  EXPECT_FALSE(en.count("usage"));
}

TEST(CatalogTest, TranslationsTakeTheSameArgumentsAsEnglish) {
  auto en = English();
  // The usage texts below leave out the minimum version that the caller passes second.
  const std::set<std::string> spanishShort = {"installusage"};
  const std::set<std::string> japaneseShort = {"installusage", "uninstallusage"};
  for (const auto& [key, text] : Spanish()) {
    if (key == "usage") {
      EXPECT_EQ(Placeholders(text), 1);
      continue;
    }
    EXPECT_EQ(Placeholders(text), Placeholders(en[key]) - (spanishShort.count(key) ? 1 : 0))
        << key;
  }
  for (const auto& [key, text] : Japanese()) {
    EXPECT_EQ(Placeholders(text), Placeholders(en[key]) - (japaneseShort.count(key) ? 1 : 0))
        << key;
  }
}

TEST(CatalogTest, EveryConversionIsAPlainStringPlaceholder) {
  // Texts are printf formats fed with strings only: "%d" or a lone "%" would read garbage.
  for (auto table : {EnglishCatalog(), SpanishCatalog(), JapaneseCatalog()}) {
    for (const CatalogEntry& entry : table) {
      for (const char* p = std::strchr(entry.text, '%'); p != nullptr;
           p = std::strchr(p + 1, '%')) {
        EXPECT_EQ(p[1], 's') << entry.name;
      }
    }
  }
}

TEST(CatalogTest, PrintedLinesEndInALineFeedAndLabelsDoNot) {
  const std::set<std::string> labels = {"cancel", "no", "ok", "yes", "setup_title",
                                        "uninstall_title"};
  for (const auto& keys : {English(), Spanish(), Japanese()}) {
    for (const auto& [key, text] : keys) {
      ASSERT_FALSE(text.empty()) << key;
      if (labels.count(key)) {
        EXPECT_EQ(text.find('\n'), std::string::npos) << key;
      } else {
        EXPECT_EQ(text.back(), '\n') << key;
      }
    }
  }
}

TEST(CatalogTest, TextsAreValidUtf8WithoutTabsQuotesOrAMissingNot) {
  for (auto table : {EnglishCatalog(), SpanishCatalog(), JapaneseCatalog()}) {
    for (const CatalogEntry& entry : table) {
      std::string text = entry.text;
      EXPECT_EQ(ConvertFromUtf8(entry.text, "UTF-8"), text) << entry.name;
      EXPECT_EQ(text.find_first_of("\t\"\\\r"), std::string::npos) << entry.name;
      // An error without its "not" tells the user the opposite of what happened.
      if (text.find("Could ") != std::string::npos) {
        EXPECT_NE(text.find("Could not "), std::string::npos) << entry.name;
      }
    }
  }
}

TEST(CatalogTest, EntriesAreFoundOnlyUnderTheirExactName) {
  EXPECT_NE(FindCatalogEntry("messages_ok"), nullptr);
  EXPECT_NE(FindCatalogEntry("messages_es_usage"), nullptr);
  EXPECT_EQ(FindCatalogEntry("messages_en_ok"), nullptr);
  EXPECT_EQ(FindCatalogEntry("messages_es_ES_ok"), nullptr);
  EXPECT_EQ(FindCatalogEntry("messages_es_uninstallusage"), nullptr);
  EXPECT_EQ(FindCatalogEntry("messages_o"), nullptr);
  EXPECT_EQ(FindCatalogEntry("ok"), nullptr);
  EXPECT_EQ(FindCatalogEntry(""), nullptr);
  EXPECT_EQ(FindCatalogEntry(nullptr), nullptr);
}

}  // namespace
}  // namespace launcher

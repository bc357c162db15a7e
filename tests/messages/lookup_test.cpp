// Message lookup under real locales, each case in its own child process because the locale
// is computed once per process.
#include <langinfo.h>

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "in_child.h"
#include "messages/catalog.h"
#include "messages/convert.h"
#include "messages/profile.h"

namespace launcher {
namespace {

using test::InChild;

// What the catalog should give for entryName in this child's codeset.
std::string Expected(const char* entryName) {
  const char* text = FindCatalogEntry(entryName);
  return text != nullptr ? ConvertFromUtf8(text, nl_langinfo(CODESET)) : "<missing entry>";
}

// "ok" when key yields entryName's text; otherwise what it yielded.
std::string Check(const char* key, const char* entryName) {
  std::string got = GetLocalizedMessage(key);
  std::string want = Expected(entryName);
  if (got == want && !got.empty()) return "ok";
  return std::string(key) + ": got [" + got + "] want [" + want + "]";
}

TEST(LookupTest, SpanishLocaleSelectsSpanishTexts) {
  for (const char* locale : {"es_ES.UTF-8", "es_MX.UTF-8", "es_ES"}) {
    EXPECT_EQ(InChild(locale,
                      [] {
                        return Check("checking_java", "messages_es_checking_java") + " " +
                               Check("installusage", "messages_es_installusage") + " " +
                               Check("yes", "messages_es_yes");
                      }),
              "ok ok ok")
        << locale;
  }
}

TEST(LookupTest, JapaneseLocaleSelectsJapaneseTexts) {
  EXPECT_EQ(InChild("ja_JP.eucJP",
                    [] {
                      return Check("checking_disk_space", "messages_ja_checking_disk_space") +
                             " " + Check("connecting_x11", "messages_ja_connecting_x11") +
                             " " + Check("installusage", "messages_ja_installusage");
                    }),
            "ok ok ok");
}

TEST(LookupTest, MissingTranslationFallsBackToEnglish) {
  EXPECT_EQ(InChild("es_ES.UTF-8",
                    [] { return Check("uninstallusage", "messages_uninstallusage"); }),
            "ok");
  for (const char* locale : {"C", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    EXPECT_EQ(InChild(locale, [] { return Check("checking_java", "messages_checking_java"); }),
              "ok")
        << locale;
  }
}

TEST(LookupTest, UnknownKeyGivesEmptyStringInEveryLanguage) {
  for (const char* locale : {"C", "en_US.UTF-8", "es_ES", "ja_JP.eucJP"}) {
    EXPECT_EQ(InChild(locale,
                      [] {
                        return "[" + GetLocalizedMessage("no_such_key") + "][" +
                               GetLocalizedMessage("") + "][" + GetLocalizedMessage(nullptr) +
                               "]";
                      }),
              "[][][]")
        << locale;
  }
  // The Spanish-only key is reachable from a Spanish tag, but not from English.
  EXPECT_EQ(InChild("en_US.UTF-8", [] { return "[" + GetLocalizedMessage("usage") + "]"; }),
            "[]");
  EXPECT_EQ(InChild("es_ES", [] { return Check("usage", "messages_es_usage"); }), "ok");
}

TEST(LookupTest, SpanishTextsAreConvertedToLatinOne) {
  EXPECT_EQ(InChild("es_ES.ISO-8859-1",
                    [] {
                      return std::string(nl_langinfo(CODESET)) + " " +
                             GetLocalizedMessage("no_valid_arg") + GetLocalizedMessage("yes");
                    }),
            "ISO-8859-1 Error: \xab%s\xbb no es un argumento v\xe1lido.\nS\xed");
}

TEST(LookupTest, JapaneseTextsAreConvertedToEucJp) {
  EXPECT_EQ(InChild("ja_JP.eucJP", [] { return GetLocalizedMessage("checking_java"); }),
            "Java(TM) 2 Runtime Environment\xb8\xa1\xba\xba\xc3\xe6...\n");
}

TEST(ProfileTest, TitleIsFetchedOnceInTheFirstLocale) {
  EXPECT_EQ(InChild("es_ES",
                    [] {
                      const char* first = GetTitle();
                      std::setlocale(LC_ALL, "C");
                      UpdateLocale();
                      return std::string(first) + (GetTitle() == first ? " same" : " moved") +
                             " " + GetTitle();
                    }),
            "Instalaci\xf3n same Instalaci\xf3n");
}

TEST(ProfileTest, ComposedKeysNameCatalogEntries) {
  for (const char* suffix : {"already_started", "no_files", "title"}) {
    std::string name = "messages_" + GetMessageKeyPrefix(suffix);
    EXPECT_NE(FindCatalogEntry(name.c_str()), nullptr) << name;
  }
  EXPECT_EQ(GetMessageKeyPrefix(""), "setup_");
  const char* const* elements = nullptr;
  ASSERT_EQ(GetJavaClasspathElements(&elements), 1);
  EXPECT_EQ(elements[0][0], '/');
}

}  // namespace
}  // namespace launcher

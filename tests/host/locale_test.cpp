#include "host/locale.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/scratch.h"

extern char** environ;

namespace launcher {
namespace {

using test::InChild;
using test::Show;

const char kSystemLocales[] = "/usr/lib/locale";

bool SystemHasLocale(const std::string& name) {
  return ::access((std::string(kSystemLocales) + "/" + name + "/LC_CTYPE").c_str(), R_OK) == 0;
}

// Replaces every locale variable with the given ones, then runs body.
std::string WithLocaleEnvironment(const std::map<std::string, std::string>& vars,
                                  const std::function<std::string()>& body) {
  return InChild([&] {
    std::vector<std::string> names;
    for (char** entry = environ; *entry; ++entry) {
      std::string name(*entry, std::strcspn(*entry, "="));
      if (name.rfind("LC_", 0) == 0 || name == "LANG" || name == "LANGUAGE" ||
          name == "LOCPATH") {
        names.push_back(name);
      }
    }
    for (const auto& name : names) ::unsetenv(name.c_str());
    for (const auto& [name, value] : vars) ::setenv(name.c_str(), value.c_str(), 1);
    return body();
  });
}

// "tag|process locale" computed from the given environment.
std::string TagFor(const std::map<std::string, std::string>& vars) {
  return WithLocaleEnvironment(vars, [] {
    std::string tag = GetLocale();
    return tag + "|" + Show(std::setlocale(LC_ALL, nullptr));
  });
}

TEST(LocaleTag, InstalledLocalesMapToLanguageAndKnownCountry) {
  ASSERT_TRUE(SystemHasLocale("de_DE@euro") && SystemHasLocale("ja_JP.eucjp") &&
              SystemHasLocale("es_ES") && SystemHasLocale("aa_DJ"))
      << "locales-all is needed";
  EXPECT_EQ(TagFor({}), "en|C");
  EXPECT_EQ(TagFor({{"LC_ALL", "C"}}), "en|C");
  EXPECT_EQ(TagFor({{"LC_ALL", "POSIX"}}), "en|C");
  EXPECT_EQ(TagFor({{"LANG", "es_ES"}}), "es_ES|es_ES");
  // "@euro" is cut before the process locale is set for good.
  EXPECT_EQ(TagFor({{"LC_ALL", "de_DE@euro"}}), "de_DE|de_DE");
  // The codeset is dropped from the tag but kept in the process locale.
  EXPECT_EQ(TagFor({{"LC_ALL", "ja_JP.eucJP"}}), "ja_JP|ja_JP.eucJP");
  // A country the table does not know is dropped.
  EXPECT_EQ(TagFor({{"LC_ALL", "es_CU"}}), "es|es_CU");
  // Neither Afar nor Djibouti is known: plain English.
  EXPECT_EQ(TagFor({{"LC_ALL", "aa_DJ"}}), "en|aa_DJ");
  // glibc's locale.alias maps "japanese" and "ja_JP" to ja_JP.eucJP, so both are locales.
  EXPECT_EQ(TagFor({{"LC_ALL", "japanese"}}), "ja_JP|japanese");
  // ".UTF-8" is cut and the plain name exists: the process ends in that locale.
  EXPECT_EQ(TagFor({{"LC_ALL", "ja_JP.UTF-8"}}), "ja_JP|ja_JP");
}

TEST(LocaleTag, RejectedLocaleNamesFallBackToC) {
  EXPECT_EQ(TagFor({{"LC_ALL", "xx_YY"}}), "en|C");
  EXPECT_EQ(TagFor({{"LC_ALL", "es"}}), "en|C");
  // de_LI exists here only in UTF-8, so the name cut at ".UTF-8" is rejected.
  ASSERT_TRUE(SystemHasLocale("de_LI.utf8") && !SystemHasLocale("de_LI"));
  EXPECT_EQ(TagFor({{"LC_ALL", "de_LI.UTF-8"}}), "en|C");
}

// Bare names such as "es" or "ja" are locales on some systems but not here; a private
// locale directory supplies them so that the alias and country tables are exercised.
TEST(LocaleTag, BareAndAliasedNamesUseTheTables) {
  test::ScratchDir dir;
  const std::map<std::string, std::string> links = {
      {"es", "es_ES"}, {"ja", "ja_JP.eucjp"},
      {"en_UK", "en_GB"}, {"big5", "zh_TW"}};
  for (const auto& [name, target] : links) {
    ASSERT_TRUE(SystemHasLocale(target)) << target;
    ASSERT_EQ(::symlink((std::string(kSystemLocales) + "/" + target).c_str(),
                        (dir / name).c_str()),
              0);
  }
  auto tag = [&](const char* name) { return TagFor({{"LOCPATH", dir.path()}, {"LC_ALL", name}}); };
  EXPECT_EQ(tag("es"), "es_ES|es");
  EXPECT_EQ(tag("ja"), "ja_JP|ja");
  EXPECT_EQ(tag("en_UK"), "en_GB|en_UK");
  // The alias "zh_TW.Big5" is not cut at its '.', so "TW.Big5" is no country.
  EXPECT_EQ(tag("big5"), "zh|big5");
}

TEST(LocaleTag, UpdateKeepsTheCurrentLocale) {
  std::string result = WithLocaleEnvironment({{"LC_ALL", "es_ES"}}, [] {
    std::string first = GetLocale();
    // What the toolkit does when X refuses the locale: the tag must follow, or texts
    // would be chosen for a codeset the process no longer has.
    std::setlocale(LC_ALL, "C");
    std::string updated = UpdateLocale();
    std::string updatedLocale = Show(std::setlocale(LC_ALL, nullptr));
    return first + "," + updated + "," + updatedLocale + "," +
           (GetLocale() == GetLocale() ? "cached" : "recomputed");
  });
  EXPECT_EQ(result, "es_ES,en,C,cached");
}

// Each boundary result of s for indexes 0 .. strlen(s) + 1, as '1' / '0'.
std::string Boundaries(const char* s) {
  std::string marks;
  for (std::size_t i = 0; i <= std::strlen(s) + 1; ++i) marks += IsMultiByteChar(s, i) ? '1' : '0';
  return marks;
}

long Offset(const char* s, const char* hit) { return hit ? hit - s : -1; }

std::string Searches(const char* s, int c) {
  return std::to_string(Offset(s, _strchr(s, c))) + "," +
         std::to_string(Offset(s, _strrchr(s, c)));
}

TEST(MultiByteSearch, SecondByteOfEucJpCharacterIsNoBoundary) {
  std::string result = WithLocaleEnvironment({{"LC_ALL", "ja_JP.eucJP"}}, [] {
    // Two EUC-JP characters (hiragana a, i) around an ASCII 'a'.
    return Boundaries("\xA4\xA2" "a" "\xA4\xA4");
  });
  EXPECT_EQ(result, "1011010");
}

// EUC-JP never uses ASCII bytes inside a character, but GBK and Big5 do (second bytes
// from 0x40): '@', '\\' and '_' can hide there. '/' and ':' never can in any encoding
// installed here (checked: EUC-JP, EUC-KR, EUC-TW, GBK, GB18030, Big5, Big5-HKSCS).
TEST(MultiByteSearch, SeparatorByteInsideDoubleByteCharacterIsNotMatched) {
  std::string gbk = WithLocaleEnvironment({{"LC_ALL", "zh_CN.gbk"}}, [] {
    // 0x81 0x5F and 0x81 0x40 are single GBK characters.
    return Searches("es\x81_x_y", '_') + " " + Searches("a_\x81_", '_') + " " +
           Searches("\x81@@", '@') + " " + Searches("\x81_", '_');
  });
  EXPECT_EQ(gbk, "5,5 1,1 2,2 -1,-1");
  std::string big5 = WithLocaleEnvironment({{"LC_ALL", "zh_TW"}}, [] {
    // 0xB3 0x5C is one Big5 character whose second byte is a backslash.
    return Searches("dir\\\xB3\\", '\\') + " " + Boundaries("\xB3\\");
  });
  EXPECT_EQ(big5, "3,3 1010");
}

TEST(MultiByteSearch, BytesInvalidInTheEncodingDoNotHideLaterSeparators) {
  // A Latin-1 directory name under an EUC-JP locale: 0xE9 followed by ASCII is no valid
  // character, yet the path must still split, or the application home is lost.
  std::string result = WithLocaleEnvironment({{"LC_ALL", "ja_JP.eucJP"}}, [] {
    return Searches("/opt/caf\xE9/setup", '/') + " " + Searches("/opt/\xA4\xA2/x\xA4", '/');
  });
  EXPECT_EQ(result, "0,9 0,7");
  std::string c = WithLocaleEnvironment({}, [] { return Searches("/caf\xE9\xE9/x", '/'); });
  EXPECT_EQ(c, "0,6");
}

TEST(MultiByteSearch, NullOrEmptyStringFindsNothing) {
  std::string result = WithLocaleEnvironment({}, [] {
    const char* none = nullptr;
    return Show(_strchr(none, '/')) + Show(_strchr("", '/')) + Show(_strrchr(none, '/')) +
           Show(_strrchr("", '/')) + Show(_strchr("abc", 'x'));
  });
  EXPECT_EQ(result, "(null)(null)(null)(null)(null)");
}

}  // namespace
}  // namespace launcher

// Locale tag and multibyte-aware searches, the temporary directory and its removal, and
// self-location: each case in a child, since all of them keep process-wide state.
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "host/locale.h"
#include "host/self_location.h"
#include "host/tempdir.h"
#include "support/child.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

std::string InLocale(const char* name, const std::function<std::string()>& body) {
  return InChild([&] {
    ::setenv("LC_ALL", name, 1);  // over every other locale variable
    return body();
  });
}

TEST(Locale, TagsAndProcessLocalesAreAsTheTablesSay) {
  const std::pair<const char*, const char*> kRows[] = {
      {"C", "en|C"}, {"es_ES", "es_ES|es_ES"}, {"de_DE@euro", "de_DE|de_DE"}, {"es_CU", "es|es_CU"}, {"ja_JP.eucJP", "ja_JP|ja_JP.eucJP"},
      {"aa_DJ", "en|aa_DJ"}, {"japanese", "ja_JP|japanese"}, {"ja_JP.UTF-8", "ja_JP|ja_JP"}, {"xx_YY", "en|C"},
      {"de_LI.UTF-8", "en|C"},  // exists only in UTF-8, so the cut name is refused
  };
  for (auto [name, expected] : kRows) {
    EXPECT_EQ(InLocale(name, [] { std::string tag = GetLocale(); return tag + "|" + std::setlocale(LC_ALL, nullptr); }), expected) << name;
  }
}

// First and last match, and boundary marks, under a locale. GBK and Big5 use ASCII bytes as
// second bytes of a character; a byte invalid in the encoding counts as a character alone.
TEST(Locale, SearchesMatchOnlyWholeCharacters) {
  const std::tuple<const char*, std::string, char, const char*> kRows[] = {
      {"zh_CN.gbk", "es\x81_x_y", '_', "5,5"}, {"zh_CN.gbk", "a_b_\x81_", '_', "1,3"},
      {"zh_TW", "dir\\\xB3\\", '\\', "3,3"}, {"ja_JP.eucJP", "/opt/caf\xE9/setup", '/', "0,9"},
      {"ja_JP.eucJP", "/opt/\xA4\xA2/x\xA4", '/', "0,7"}, {"C", "/caf\xE9\xE9/x", '/', "0,6"}, {"C", "", '/', "-1,-1"},
  };
  for (const auto& [locale, text, c, expected] : kRows) {
    EXPECT_EQ(InLocale(locale, [&] {
                const char *first = _strchr(text.c_str(), c), *last = _strrchr(text.c_str(), c);
                return std::to_string(first ? first - text.c_str() : -1) + "," + std::to_string(last ? last - text.c_str() : -1);
              }),
              expected) << locale << " " << text;
  }
  EXPECT_EQ(InLocale("ja_JP.eucJP", [] {
              std::string marks;
              for (size_t i = 0; i <= 6; ++i) marks += IsMultiByteChar("\xA4\xA2" "a" "\xA4\xA4", i) ? '1' : '0';
              return marks;
            }), "1011010");
}

TEST(TempDir, AcceptsOnlyWritableDirectoriesAndStoresThemAbsolute) {
  ScratchDir dir;
  WriteFile(dir / "file", "");
  MakeDirs(dir / "sub");
  ::chmod(dir.path().c_str(), 0755);
  std::string got = InChild([&] {
    std::string report;
    for (std::string path : {dir / "file", dir / "missing", std::string("sub"), dir / "sub"}) {
      ::chdir(dir.path().c_str());
      int accepted = SetTempDir(path.c_str());
      report += std::to_string(accepted) + ":" + GetTempDir() + " ";
    }
    // Root passes every access check: the permission case runs as user nobody.
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) report += std::to_string(SetTempDir(dir.path().c_str()));
    return report;
  });
  EXPECT_EQ(got, "0:/var/tmp/ 0:/var/tmp/ 1:" + dir.path() + "/sub 1:" + dir.path() + "/sub 0");
}

// The working directory's removal: links removed but never followed, trees deeper than
// PATH_MAX and directories longer than one read, and no relative path at all.
TEST(TempDir, RemovalTakesTheWholeTreeAndNothingElse) {
  ScratchDir dir;
  WriteFile(dir / "outside/precious", "kept");
  std::string tree = dir / "tree";
  WriteFile(tree + "/keep/f", "kept");
  ::symlink((dir / "outside").c_str(), (tree + "/link").c_str());
  ::chdir(tree.c_str());
  for (int i = 0; i < 300 && ::mkdir("ddddddddddddddddddd", 0700) == 0; ++i) ::chdir("ddddddddddddddddddd");
  for (int i = 0; i < 400; ++i) WriteFile(tree + "/wide/" + std::string(40, 'n') + std::to_string(i), "");
  std::string kept = tree + "/keep";
  const char* keep[] = {kept.c_str(), nullptr};
  ::chdir(dir.path().c_str());
  DeleteFilesAndDirectories("tree", nullptr);
  EXPECT_TRUE(Exists(tree)) << "a relative path was removed";
  DeleteFilesAndDirectories((tree + "/").c_str(), keep);
  EXPECT_EQ(ListDir(tree), std::vector<std::string>{"keep"});
  DeleteFilesAndDirectories(tree.c_str(), nullptr);
  EXPECT_FALSE(Exists(tree));
  EXPECT_EQ(ReadFile(dir / "outside/precious"), "kept");
}

// FindExecName: an absolute name gets a doubled slash, a relative one with a '/' is taken
// from the current directory, a bare one from PATH (empty field: the current directory),
// and only executable files count.
TEST(SelfLocation, FindsTheExecutableAsTheShellWould) {
  ScratchDir dir;
  WriteFile(dir / "bin/setup", "", 0755);
  WriteFile(dir / "plain/setup", "", 0644);
  MakeDirs(dir / "dirs/setup");
  const std::tuple<std::string, std::string, std::string> kRows[] = {
      {dir / "bin/setup", "", "/" + dir / "bin/setup"}, {dir / "plain/setup", "", "(none)"}, {"bin/setup", dir / "dirs", dir / "bin/setup"},
      {"setup", dir / "plain:" + dir / "dirs:" + dir / "bin", dir / "bin/setup"}, {"setup", "/nonexistent::" + dir / "bin", "./setup"},
  };
  for (const auto& [name, path, expected] : kRows) {
    EXPECT_EQ(InChild([&] {
                ::chdir((expected == "./setup" ? dir / "bin" : dir.path()).c_str());
                ::setenv("PATH", path.c_str(), 1);
                return FindExecName(name.c_str()).value_or("(none)");
              }),
              expected) << name << " with PATH " << path;
  }
}

}  // namespace
}  // namespace launcher::test

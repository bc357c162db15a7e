// Entry names that try to leave the working directory, and odd names that must arrive
// byte for byte.
#include "hostile/hostile_support.h"

namespace launcher::hostile {
namespace {

using test::BuildZip;
using test::ZipItem;

TEST(HostileNames, NamesLeavingTheWorkDirAreRefusedWithNothingWrittenOutside) {
  ZipItem locOnly = Stored("harmless.txt", "x");
  locOnly.locName = "../../canary/loc-name";
  std::vector<HostileCase> cases = {
      Refused("parent", {Stored("../escaped", "x"), Stored("after", "never")}),
      Refused("canary", {Stored("../../canary/planted", "x")}),
      Refused("canary-deflated", {Deflated("../../canary/planted", std::string(5000, 'x'))}),
      Refused("middle", {Stored("a/b/../../../../canary/middle", "x")}),
      Refused("dotdot-alone", {Stored("..", "x")}),
      Refused("dotdot-last", {Stored("a/..", "x")}),
      Refused("directory-entry", {Stored("../../canary/newdir/", "")}),
      Refused("runtime-prefix", {Stored("package/jre/../../../canary/jre", "x")}),
      Refused("installer", {Stored("../../../inst/setup", "overwritten")}),
      Refused("loc-name-differs", {locOnly}),
      WithEntries("absolute", {Outcome::kRefused}, [](const World& w) {
        return std::vector<ZipItem>{Stored(w.canary + "/absolute", "x")};
      }),
      WithEntries("absolute-doubled", {Outcome::kRefused}, [](const World& w) {
        return std::vector<ZipItem>{Stored("/" + w.canary + "/doubled", "x")};
      }),
      WithEntries("absolute-installer", {Outcome::kRefused}, [](const World& w) {
        return std::vector<ZipItem>{Stored(w.installer, "overwritten")};
      }),
  };
  // Escaping first, ahead of the program's files.
  HostileCase first;
  first.label = "escaping-first";
  first.allowed = {Outcome::kRefused};
  first.payload = [](const World&) {
    std::vector<ZipItem> entries = {Stored("../../canary/first", "x")};
    for (const ZipItem& e : ProgramEntries()) entries.push_back(e);
    return BuildZip(entries).bytes;
  };
  first.inspectLeftover = [](const std::string& workdir) {
    EXPECT_TRUE(ListDir(workdir).empty()) << "entries after the refused one were written";
  };
  cases.push_back(first);
  // The same names while the launcher looks for a runtime of the payload's own.
  std::string deep = "package/jre/";
  for (int i = 0; i < 600; ++i) deep += "d/";
  for (auto [label, name] :
       {std::pair<std::string, std::string>{"runtime-search-parent", "package/jre/../../canary/x"},
        std::pair<std::string, std::string>{"runtime-search-deep", deep + "f"}}) {
    HostileCase search = Refused(label, {Stored(name, "x")});
    search.searchPayloadRuntime = true;
    cases.push_back(search);
  }
  cases.push_back(Refused("name-too-long", {Stored(std::string(5000, 'n'), "x")}));
  cases.push_back(Refused("component-too-long", {Stored("d/" + std::string(300, 'n'), "x")}));
  RunCases(cases);
}

// Names are the kernel's business as long as they stay inside: control bytes, invalid
// multibyte sequences, backslashes and dots arrive unchanged, in the C locale and in a
// double-byte one whose lead bytes may precede '/'.
TEST(HostileNames, OddButContainedNamesAreExtractedByteForByte) {
  ZipItem nul = Stored("cut", "nul");
  nul.locName = std::string("cut\0/../../../canary/nul", 24);
  ZipItem renamed = Stored("cen-name", "renamed");
  renamed.locName = "loc-name";
  std::vector<ZipItem> entries = {
      Stored("line\nbreak", "1"),
      Stored("tab\there\x01\x1b[31m", "2"),
      Stored("\x7f", "3"),
      Stored("\xff\xfe not utf-8", "4"),
      Stored("..\\..\\backslash", "5"),
      Stored("...", "6"),
      Deflated("..a/a..", "7"),
      Stored("dir//double", "8"),
      Stored("./dot/x", "9"),
      Stored("\x81/gbk-lead", "10"),
      Stored("\xe6\x97\xa5\xe6\x9c\xac/\xc3\xbc", "11"),
      Stored("same", "first"),
      Deflated("same", "second"),
      Stored("file-then-dir", "replaced"),
      Stored("file-then-dir/inner", "12"),
      nul,
      renamed,
  };
  std::map<std::string, std::string> files = ProgramFiles();
  files.insert({{"line\nbreak", "1"},
                {"tab\there\x01\x1b[31m", "2"},
                {"\x7f", "3"},
                {"\xff\xfe not utf-8", "4"},
                {"..\\..\\backslash", "5"},
                {"...", "6"},
                {"..a/a..", "7"},
                {"dir/double", "8"},
                {"dot/x", "9"},
                {"\x81/gbk-lead", "10"},
                {"\xe6\x97\xa5\xe6\x9c\xac/\xc3\xbc", "11"},
                {"same", "second"},
                {"file-then-dir/inner", "12"},
                {"cut", "nul"},
                {"loc-name", "renamed"}});
  HostileCase c = WithEntries("odd-names", {Outcome::kExtracted},
                              [entries](const World&) { return entries; });
  c.files = files;
  HostileCase gbk = c;
  gbk.label = "odd-names-gbk";
  gbk.env = {{"LANG", "zh_CN.gbk"}};
  RunCases({c, gbk});
}

}  // namespace
}  // namespace launcher::hostile

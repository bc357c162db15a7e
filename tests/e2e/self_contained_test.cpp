// The stub must start on a machine with nothing but the C library: zlib and the C++ runtime
// are linked in, and the toolkit is loaded only at run time. The sanitizer build links the
// shared C++ runtime, which the sanitizers need.
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "support/installer.h"

namespace launcher::test {
namespace {

TEST(SelfContainedStub, LoaderResolvesNothingButTheCLibrary) {
  RunResult ldd = test::Run({.argv = {LDD_PATH, LauncherPath()}, .env = Env{{"LC_ALL", "C"}}});
  ASSERT_EQ(ldd.exitCode, 0) << ldd.err;
  std::vector<std::string> allowed = {"libc.so.6 ", "ld-linux", "linux-vdso.so.1 ", "linux-gate.so.1 "};  // whole names end in a space
#if defined(__SANITIZE_ADDRESS__)
  allowed.insert(allowed.end(), {"libasan.so", "libubsan.so", "libstdc++.so", "libgcc_s.so", "libm.so"});
#endif
  std::istringstream lines(ldd.out);
  for (std::string line, name; std::getline(lines, line);) {
    std::istringstream(line) >> name;
    name = name.substr(name.rfind('/') + 1) + " ";
    EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(), [&](const std::string& p) { return name.rfind(p, 0) == 0; })) << "an installer would need " << line;
  }
}

}  // namespace
}  // namespace launcher::test

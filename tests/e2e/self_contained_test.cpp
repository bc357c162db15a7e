// The stub must start on a machine with nothing but the C library: zlib and the C++ runtime
// are linked in, and the toolkit is loaded only at run time. The sanitizer build links the
// shared C++ runtime, which the sanitizers need.
#include <sstream>

#include <gtest/gtest.h>

#include "support/installer.h"

namespace launcher::test {
namespace {

TEST(SelfContainedStub, LoaderResolvesNothingButTheCLibrary) {
  RunResult ldd = test::Run({.argv = {LDD_PATH, LauncherPath()}, .env = Env{{"LC_ALL", "C"}}});
  ASSERT_EQ(ldd.exitCode, 0) << ldd.err;
  std::istringstream lines(ldd.out);
  for (std::string line, name; std::getline(lines, line);) {
    std::istringstream(line) >> name;
    name = name.substr(name.rfind('/') + 1);
    bool sanitizerRuntime = false;
#if defined(__SANITIZE_ADDRESS__)
    for (const char* prefix : {"libasan.so", "libubsan.so", "libstdc++.so", "libgcc_s.so", "libm.so"}) {
      sanitizerRuntime = sanitizerRuntime || name.rfind(prefix, 0) == 0;
    }
#endif
    EXPECT_TRUE(name == "libc.so.6" || name.rfind("ld-linux", 0) == 0 || name == "linux-vdso.so.1" ||
                name == "linux-gate.so.1" || sanitizerRuntime)
        << "an installer would need " << line;
  }
}

}  // namespace
}  // namespace launcher::test

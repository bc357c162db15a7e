// The stub must start on a machine that has nothing but the C library: zlib and the C++
// runtime are linked in, and the X toolkit is only ever loaded at run time.
#include <elf.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>

#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

// GCC and Clang spell the AddressSanitizer marker differently.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool IsLoader(const std::string& name) { return name.rfind("ld-linux", 0) == 0; }

// Libraries the sanitizer runtime brings along; zlib is never among them.
bool IsSanitizerRuntime(const std::string& name) {
  for (const char* prefix : {"libasan.so", "libubsan.so", "libstdc++.so", "libgcc_s.so",
                             "libm.so"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

RunResult RunTool(std::vector<std::string> argv) {
  RunOptions options;
  options.argv = std::move(argv);
  options.env = std::map<std::string, std::string>{{"LC_ALL", "C"}, {"PATH", "/usr/bin:/bin"}};
  return launcher::test::Run(options);
}

// The DT_NEEDED entries, as readelf prints them: "... Shared library: [libc.so.6]".
std::vector<std::string> NeededLibraries(const std::string& file) {
  RunResult dump = RunTool({READELF_PATH, "--dynamic", "--wide", file});
  EXPECT_EQ(dump.exitCode, 0) << dump.err;
  std::vector<std::string> needed;
  std::istringstream lines(dump.out);
  const std::string marker = "Shared library: [";
  for (std::string line; std::getline(lines, line);) {
    if (line.find("(NEEDED)") == std::string::npos) continue;
    size_t start = line.find(marker);
    size_t end = line.rfind(']');
    if (start == std::string::npos || end == std::string::npos) {
      ADD_FAILURE() << "unreadable NEEDED line: " << line;
      continue;
    }
    start += marker.size();
    needed.push_back(line.substr(start, end - start));
  }
  return needed;
}

TEST(SelfContainedStub, NeedsNoSharedLibraryButTheCLibraryAndTheLoader) {
  std::vector<std::string> needed = NeededLibraries(LauncherPath());
  std::set<std::string> names(needed.begin(), needed.end());
  EXPECT_TRUE(names.count("libc.so.6")) << "no libc.so.6 among the NEEDED entries";
  for (const std::string& name : needed) {
    if (name == "libc.so.6" || IsLoader(name)) continue;
    if (kSanitized && IsSanitizerRuntime(name)) continue;
    ADD_FAILURE() << "the launcher needs " << name
                  << ": a machine without it could not run any installer";
  }
}

TEST(SelfContainedStub, LoaderResolvesOnlyTheCLibrary) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs the shared C++ runtime";
  RunResult listing = RunTool({LDD_PATH, LauncherPath()});
  ASSERT_EQ(listing.exitCode, 0) << listing.out << listing.err;
  std::istringstream lines(listing.out);
  int libc = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    if (name.empty()) continue;
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    EXPECT_EQ(line.find("not found"), std::string::npos) << line;
    if (name == "libc.so.6") {
      ++libc;
    } else if (name != "linux-vdso.so.1" && name != "linux-gate.so.1" && !IsLoader(name)) {
      ADD_FAILURE() << "ldd shows a further library: " << line;
    }
  }
  EXPECT_EQ(libc, 1) << listing.out;
}

// A build for 32-bit x86 that quietly produced a 64-bit stub would test the wrong program.
TEST(SelfContainedStub, IsBuiltForTheSameMachineAsTheTests) {
  std::string bytes = ReadFile(LauncherPath());
  ASSERT_GE(bytes.size(), sizeof(Elf32_Ehdr));
  ASSERT_EQ(bytes.compare(0, SELFMAG, ELFMAG), 0) << "the launcher is not an ELF file";
  unsigned char elfClass = static_cast<unsigned char>(bytes[EI_CLASS]);
  uint16_t machine = 0;
  std::memcpy(&machine, bytes.data() + offsetof(Elf32_Ehdr, e_machine), sizeof machine);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(elfClass, ELFCLASS32);
    EXPECT_EQ(machine, EM_386);
  } else {
    EXPECT_EQ(elfClass, ELFCLASS64);
    EXPECT_EQ(machine, EM_X86_64);
  }
}

// Broken copies of the libraries that must not be needed sit first on the search path: the
// loader stops at the first one it is asked for, so the installer only starts if none is.
TEST(SelfContainedStub, StartsWhenZlibAndTheCxxRuntimeAreUnusable) {
  ScratchDir scratch;
  std::string libs = scratch / "libs";
  MakeDirs(libs);
  std::vector<std::string> broken = {"libz.so.1"};
  if (!kSanitized) {
    broken.insert(broken.end(), {"libstdc++.so.6", "libgcc_s.so.1", "libm.so.6"});
  }
  for (const std::string& name : broken) WriteFile(libs + "/" + name, "not a library\n");

  std::string installer = scratch / "setup";
  MakeInstaller(installer, Entries{{"vantor.class", "x"}});
  std::string tmp = scratch / "tmp";
  MakeDirs(tmp);
  RunOptions options;
  options.argv = {installer, "-help"};
  auto env = BaseEnv(tmp);
  env["LD_LIBRARY_PATH"] = libs;
  options.env = env;
  RunResult run = launcher::test::Run(options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, kUsage);
  ::unlink(LockPath(installer).c_str());
}

}  // namespace
}  // namespace launcher::e2e

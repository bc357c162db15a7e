// Payloads whose trees are deeper than the clean-up reaches.
#include <sys/resource.h>

#include "hostile/hostile_support.h"

namespace launcher::hostile {
namespace {

using test::ZipItem;

// A name levels deep: levels - 1 directories, then a file.
std::string Deep(int levels) {
  std::string name;
  for (int i = 1; i < levels; ++i) name += "d/";
  return name + "f";
}

// The clean-up removes trees only so deep; a payload must not build one deeper, or each
// run would leave its working directory behind.
TEST(HostileDepth, TreesDeeperThanTheCleanUpReachesAreRefused) {
  HostileCase limit = WithEntries("512-levels", {Outcome::kExtracted}, [](const World&) {
    return std::vector<ZipItem>{Stored(Deep(512), "deep")};
  });
  limit.files = ProgramFiles();
  limit.files[Deep(512)] = "deep";
  // The clean-up may run in a signal handler on a small stack: the runs get 1 MiB
  // (ulimit -s 1024), and the deepest tree must still go.
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_STACK, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_STACK, &small), 0);
  RunCases({limit, Refused("513-levels", {Stored(Deep(513), "deep")}),
            Refused("1500-levels", {Stored(Deep(1500), "deep")}),
            Refused("directory-entry", {Stored(Deep(600) + "/", "")})});
  ::setrlimit(RLIMIT_STACK, &saved);
}

}  // namespace
}  // namespace launcher::hostile

// The command-line parser where the end-to-end table can't reach: a current directory that
// is gone while a relative value needs it.
#include <unistd.h>

#include <gtest/gtest.h>

#include "driver/arguments.h"
#include "support/child.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

TEST(ParseArguments, RelativeValueWithoutCurrentDirectoryIsRefusedNotLooped) {
  ScratchDir dir;
  std::string got = InChild([&] {
    ::chdir(dir.path().c_str());
    ::rmdir(dir.path().c_str());
    const char* const argv[] = {"-console", "-javahome", "relative"};
    Arguments arguments;
    int status = 0;
    bool parsed = ParseArguments(3, argv, &arguments, &status);
    return std::to_string(parsed) + " " + std::to_string(status);
  });
  EXPECT_EQ(got, "0 1");
}

}  // namespace
}  // namespace launcher::test

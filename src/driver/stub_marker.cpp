// The mark by which the packer knows a launcher stub and its version. Nothing reads it at
// run time: `retain` keeps it through --gc-sections.
#include <array>

#include "launcher_version.h"

namespace launcher {
namespace {

// The section is kStubSection; the attribute takes only a literal.
[[gnu::used, gnu::retain, gnu::section(".installer_launcher")]] constexpr auto kMarker =
    std::to_array(kStubMarker);

}  // namespace
}  // namespace launcher

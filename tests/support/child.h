// Runs a piece of a test in a forked child, so that process-wide state (locale, caches,
// environment, user id) starts fresh and cannot leak between cases.
#pragma once

#include <functional>
#include <string>

namespace launcher::test {

// body's report, or a failure of the calling test when the child does not end normally.
std::string InChild(const std::function<std::string()>& body);

}  // namespace launcher::test

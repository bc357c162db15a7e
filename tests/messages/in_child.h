// Runs a piece of a test in a forked child whose locale comes from the environment, so
// that the locale, the console flag and stdio buffers start fresh in every case.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

#include "host/locale.h"
#include "support/child.h"

namespace launcher::test {

// Runs body in a child whose locale comes from LC_ALL=locale (null keeps the inherited
// environment) and returns the report that body produced. The test's own process never
// computes the locale, so the child's first lookup computes it from this environment.
inline std::string InChild(const char* locale, const std::function<std::string()>& body) {
  return InChild([&] {
    if (locale != nullptr) ::setenv("LC_ALL", locale, 1);
    return body();
  });
}

}  // namespace launcher::test

// Runs a piece of a test in a forked child whose locale comes from the environment, so
// that the locale, the console flag and stdio buffers start fresh in every case.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

#include "host/locale.h"
#include "support/child.h"

namespace launcher::test {

// Runs body in a child whose locale comes from LC_ALL=locale (recomputed there; null keeps
// the inherited environment) and returns the report that body produced.
inline std::string InChild(const char* locale, const std::function<std::string()>& body) {
  return InChild([&] {
    if (locale != nullptr) {
      ::setenv("LC_ALL", locale, 1);
      ResetLocale();
    }
    return body();
  });
}

}  // namespace launcher::test

// The JVM option list handed to the Java process, in the order the options were added.
#pragma once

#include <string_view>

#include "runtime/launch.h"

namespace launcher {

// Appends a copy of option to the list; the list lives until the process ends.
void AddOption(std::string_view option);

// Number of options in the list.
int GetNumOptions();

// The options in order; null while the list is empty.
const JavaVMOption* GetOptions();

}  // namespace launcher

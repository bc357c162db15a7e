#include "driver/jvm_options.h"

#include <cstring>
#include <vector>

#include "host/memory.h"

namespace launcher {
namespace {

// The strings are never freed: the list is read until the Java process has been started.
std::vector<JavaVMOption> options;

}  // namespace

void AddOption(std::string_view option) {
  char* copy = static_cast<char*>(MemAlloc(option.size() + 1));
  std::memcpy(copy, option.data(), option.size());
  copy[option.size()] = '\0';
  if (options.empty()) options.reserve(4);
  options.push_back(JavaVMOption{copy, nullptr});
}

int GetNumOptions() { return static_cast<int>(options.size()); }

const JavaVMOption* GetOptions() { return options.empty() ? nullptr : options.data(); }

}  // namespace launcher

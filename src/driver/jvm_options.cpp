#include "driver/jvm_options.h"

#include <cstring>
#include <vector>

#include "host/lasting.h"
#include "host/memory.h"

namespace launcher {
namespace {

// Its strings are never freed either: the list lives until the process ends.
Lasting<std::vector<JavaVMOption>> options;

}  // namespace

void AddOption(std::string_view option) {
  char* copy = static_cast<char*>(MemAlloc(option.size() + 1));
  std::memcpy(copy, option.data(), option.size());
  copy[option.size()] = '\0';
  if (options->empty()) options->reserve(4);
  options->push_back(JavaVMOption{copy, nullptr});
}

int GetNumOptions() { return static_cast<int>(options->size()); }

const JavaVMOption* GetOptions() { return options->empty() ? nullptr : options->data(); }

}  // namespace launcher

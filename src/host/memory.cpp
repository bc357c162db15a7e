#include "host/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace launcher {
namespace {

[[noreturn]] void OutOfMemory() {
  std::perror("Out of memory");
  std::exit(1);  // not _exit: the exit hook still removes the lock file
}

}  // namespace

void InstallOutOfMemoryHandler() { std::set_new_handler(OutOfMemory); }

void* MemAlloc(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) OutOfMemory();
  return block;
}

char* StrDup(const char* s) {
  std::size_t length = std::strlen(s) + 1;
  return static_cast<char*>(std::memcpy(MemAlloc(length), s, length));
}

}  // namespace launcher

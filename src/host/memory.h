// Allocation that never returns null: running out of memory ends the process.
#pragma once

#include <cstddef>

namespace launcher {

// Makes every failed allocation (operator new and MemAlloc) print "Out of memory" through
// perror and exit(1), so exit hooks still run. Called first thing in main.
void InstallOutOfMemoryHandler();

// malloc that ends the process as above instead of returning null.
void* MemAlloc(std::size_t size);

// A copy of s made with MemAlloc; release with free.
char* StrDup(const char* s);

}  // namespace launcher

// The extent of an executable's own image, read from its ELF headers: bytes past it were
// appended (an installer's payload).
#pragma once

#include <cstdint>
#include <optional>

namespace launcher {

// The end of the last header table, segment or section that path's ELF headers describe,
// or nullopt when they can't be read.
std::optional<uint64_t> ElfImageSize(const char* path);

}  // namespace launcher

// An executable's ELF headers: the extent of its own image (bytes past it were appended, an
// installer's payload) and the content of a named section (the stub's marker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace launcher {

// The end of the last header table, segment or section that path's ELF headers describe,
// or nullopt when they can't be read.
std::optional<uint64_t> ElfImageSize(const char* path);

// The content of path's section called name when it holds at most maxSize bytes; nullopt
// when there is no such section or the headers can't be read.
std::optional<std::string> ElfSection(const char* path, const char* name, std::size_t maxSize);

}  // namespace launcher

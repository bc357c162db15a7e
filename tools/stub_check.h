// Recognising a launcher stub: the packer refuses any other file as the installer's start.
#pragma once

#include <optional>
#include <string>

namespace launcher::packer {

// The version in the marker section that the build puts into the launcher stub; nothing
// when path is not an ELF file or has no such section.
std::optional<std::string> StubVersion(const std::string& path);

// Checks that stubPath is a bare launcher stub (marker present, no payload appended yet)
// and that writing outputPath would not replace it; false with a message in error.
bool CheckStub(const std::string& stubPath, const std::string& outputPath, std::string* error);

}  // namespace launcher::packer

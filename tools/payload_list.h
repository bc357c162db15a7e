// Lists an installer's payload as the launcher itself reads it.
#pragma once

#include <cstdio>
#include <string>

namespace launcher::packer {

// Prints one line per entry (uncompressed size, name) and a total line to out, reading the
// installer through the launcher's own zip reader. False with a message when it does not
// open or an entry cannot be read.
bool ListInstaller(const std::string& installerPath, std::FILE* out, std::string* error);

}  // namespace launcher::packer

// mkinstaller --check: verifies an installer's whole payload without running anything.
#pragma once

#include <cstdio>
#include <string>

namespace launcher::packer {

// Reads the launcher stub's version, the archive's structure and limits, every entry's
// content against its CRC-32 (inflating it) and the main class vantor.class. Prints the
// version, then one line per problem, naming the entry, or "OK" when there is none. True
// when the installer passed.
bool CheckInstaller(const std::string& installerPath, std::FILE* out);

}  // namespace launcher::packer

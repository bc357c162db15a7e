#include "stub_check.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/zip.h"
#include "file_paths.h"
#include "host/elf_image.h"
#include "launcher_version.h"

namespace launcher::packer {
namespace {

// Larger than any marker; a bigger section is not ours.
constexpr std::size_t kMaxMarkerBytes = 256;

}  // namespace

std::optional<std::string> StubVersion(const std::string& path) {
  std::optional<std::string> marker = ElfSection(path.c_str(), kStubSection, kMaxMarkerBytes);
  if (!marker) return std::nullopt;
  marker->resize(std::strlen(marker->c_str()));
  if (marker->rfind(kStubMarkerPrefix, 0) != 0) return std::nullopt;
  return marker->substr(sizeof kStubMarkerPrefix - 1);
}

bool CheckStub(const std::string& stubPath, const std::string& outputPath, std::string* error) {
  struct stat stub;
  if (stat(stubPath.c_str(), &stub) != 0) {
    *error = "launcher stub " + Describe(stubPath);
    return false;
  }
  if (!StubVersion(stubPath)) {
    *error = "launcher stub " + stubPath +
             ": not a launcher stub (it lacks the marker that the launcher's build puts in); "
             "give the launcher that this build made";
    return false;
  }
  int32_t code = 0;
  if (ZipHandle installer{zipOpen(stubPath.c_str(), &code)}) {
    *error = "launcher stub " + stubPath +
             ": already carries a payload (it is an installer); give the bare launcher";
    return false;
  }
  struct stat output;
  if (stat(outputPath.c_str(), &output) == 0 && output.st_dev == stub.st_dev &&
      output.st_ino == stub.st_ino) {
    *error = outputPath + ": is the launcher stub itself; give another output file";
    return false;
  }
  return true;
}

}  // namespace launcher::packer

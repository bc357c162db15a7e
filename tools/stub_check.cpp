#include "stub_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "archive/zip.h"
#include "file_paths.h"
#include "host/unique_fd.h"
#include "launcher_version.h"

namespace launcher::packer {
namespace {

// Little-endian ELF fields read at file positions; any read past the end fails the whole
// lookup, so a damaged or foreign file is simply "no marker".
class ElfReader {
 public:
  explicit ElfReader(int fd) : fd_(fd) {}
  bool ok() const { return ok_; }
  uint64_t Field(uint64_t at, int width) {
    uint8_t bytes[8] = {};
    if (!Read(at, bytes, static_cast<size_t>(width))) return 0;
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
  }
  bool Read(uint64_t at, void* out, size_t count) {
    if (at > INT64_MAX || pread(fd_, out, count, static_cast<off_t>(at)) !=
                              static_cast<ssize_t>(count)) {
      ok_ = false;
    }
    return ok_;
  }

 private:
  int fd_;
  bool ok_ = true;
};

// Offsets of the few header fields used, for 32-bit and 64-bit ELF files.
struct ElfLayout {
  int addressWidth;
  uint64_t sectionTable, sectionEntrySize, sectionCount, namesIndex;  // in the file header
  uint64_t sectionOffset, sectionSize;                                // in a section header
};
constexpr ElfLayout kElf32 = {4, 0x20, 0x2E, 0x30, 0x32, 0x10, 0x14};
constexpr ElfLayout kElf64 = {8, 0x28, 0x3A, 0x3C, 0x3E, 0x18, 0x20};
// Large enough for any marker; a bigger section is not ours.
constexpr uint64_t kMaxMarkerBytes = 256;

std::optional<std::string> FindMarker(ElfReader& elf, const ElfLayout& l) {
  const int w = l.addressWidth;
  const uint64_t table = elf.Field(l.sectionTable, w);
  const uint64_t entrySize = elf.Field(l.sectionEntrySize, 2);
  const uint64_t count = elf.Field(l.sectionCount, 2);
  const uint64_t namesHeader = table + entrySize * elf.Field(l.namesIndex, 2);
  const uint64_t names = elf.Field(namesHeader + l.sectionOffset, w);
  const size_t nameLength = sizeof kStubSection;
  for (uint64_t i = 0; elf.ok() && i < count; ++i) {
    const uint64_t header = table + i * entrySize;
    char name[sizeof kStubSection] = {};
    if (!elf.Read(names + elf.Field(header, 4), name, nameLength)) break;
    if (std::memcmp(name, kStubSection, nameLength) != 0) continue;
    const uint64_t size = elf.Field(header + l.sectionSize, w);
    if (size > kMaxMarkerBytes) return std::nullopt;
    std::string marker(size, '\0');
    if (!elf.Read(elf.Field(header + l.sectionOffset, w), marker.data(), size)) break;
    marker.resize(std::strlen(marker.c_str()));
    if (marker.rfind(kStubMarkerPrefix, 0) != 0) return std::nullopt;
    return marker.substr(sizeof kStubMarkerPrefix - 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> StubVersion(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  ElfReader elf(fd.get());
  uint8_t ident[6] = {};
  if (!elf.Read(0, ident, sizeof ident) || std::memcmp(ident, "\x7f" "ELF", 4) != 0 ||
      ident[5] != 1 /* little-endian */) {
    return std::nullopt;
  }
  if (ident[4] == 1) return FindMarker(elf, kElf32);
  if (ident[4] == 2) return FindMarker(elf, kElf64);
  return std::nullopt;
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

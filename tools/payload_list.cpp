#include "payload_list.h"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstring>

#include "archive/zip.h"

namespace launcher::packer {
bool ListInstaller(const std::string& installerPath, std::FILE* out, std::string* error) {
  int32_t code = 0;
  ZipHandle archive(zipOpen(installerPath.c_str(), &code));
  if (!archive) {
    *error = installerPath + (code == kZipCannotOpen
                                  ? ": " + std::string(std::strerror(errno))
                                  : ": carries no payload the launcher can read (no zip "
                                    "archive at its end, or one it refuses)");
    return false;
  }
  int64_t total = 0;
  int32_t count = 0;
  for (; count < archive->entryCount; ++count) {
    ZipEntry* entry = zipGetNextEntry(archive.get(), count);
    if (entry == nullptr) {
      const char* why = archive->message;
      *error = installerPath + ": entry " + std::to_string(count) + " cannot be read" +
               (why ? std::string(" (") + why + ")" : std::string());
      return false;
    }
    std::fprintf(out, "%12" PRId32 "  %s\n", entry->size, entry->name.c_str());
    total += entry->size;
    zipFreeEntry(archive.get(), entry);
  }
  std::fprintf(out, "%12" PRId64 "  %" PRId32 " %s\n", total, count,
               count == 1 ? "entry" : "entries");
  return true;
}

}  // namespace launcher::packer

// libFuzzer target: opens the input as an archive, walks every entry by index and by name,
// reads raw bytes, and extracts everything into a scratch directory emptied after each input.
// fuzz-sources: src/archive src/host
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/extract.h"
#include "archive/zip_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  static const std::string dir = [] {
    std::string templ = "/tmp/archive-fuzz.XXXXXX";
    if (!::mkdtemp(templ.data())) ::abort();
    return templ;
  }();
  const std::string input = dir + "/input.zip", out = dir + "/out";
  FILE* file = std::fopen(input.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) ::abort();
  int32_t code = 0;
  ZipArchive* archive = zipOpen(input.c_str(), &code);
  if (!archive) return code == kZipInvalid ? 0 : (::abort(), 0);
  char buffer[64];
  for (int32_t i = 0; i < archive->entryCount; ++i) {
    ZipEntry* entry = zipGetNextEntry(archive, i);
    if (!entry) continue;
    std::string name = entry->name;
    zipRead(archive, entry, entry->size > 0 ? entry->size - 1 : 0, buffer, sizeof buffer);
    zipFreeEntry(archive, entry);
    zipFreeEntry(archive, zipGetEntry(archive, name.c_str()));
  }
  UnzipFiles(archive, out.c_str(), nullptr);
  zipClose(archive);
  // Depth first and without following links, so a damaged name can never lead outside.
  ::nftw(out.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path), 0; }, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}

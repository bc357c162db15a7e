// libFuzzer target: opens the input as an archive, walks every entry by index and by name,
// reads raw bytes, and extracts everything into a scratch directory that is emptied after
// each input.
// fuzz-sources: src/archive src/host
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "archive/extract.h"
#include "archive/zip.h"
#include "host/unique_fd.h"

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

// Depth first and without following links, so a damaged name can never lead outside.
void RemoveTree(const std::string& path) {
  ::nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = ::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/archive-fuzz.XXXXXX";
    if (!::mkdtemp(templ.data())) ::abort();
    return templ;
  }();
  static const bool cleanup = [] {
    ::atexit([] { RemoveTree(ScratchDir()); });
    return true;
  }();
  (void)cleanup;
  return dir;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  launcher::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.valid()) return false;
  while (size > 0) {
    ssize_t n = ::write(fd.get(), data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  const std::string input = ScratchDir() + "/input.zip";
  const std::string out = ScratchDir() + "/out";
  if (!WriteInput(input, data, size)) ::abort();

  int32_t code = 0;
  ZipArchive* archive = zipOpen(input.c_str(), &code);
  if (!archive) {
    if (code != kZipInvalid) ::abort();
    return 0;
  }
  char buffer[64];
  for (int32_t i = 0; i < archive->entryCount; ++i) {
    ZipEntry* entry = zipGetNextEntry(archive, i);
    if (!entry) continue;
    std::string name = entry->name;
    zipRead(archive, entry, 0, buffer, sizeof buffer);
    zipRead(archive, entry, entry->size > 0 ? entry->size - 1 : 0, buffer, sizeof buffer);
    zipFreeEntry(archive, entry);
    zipFreeEntry(archive, zipGetEntry(archive, name.c_str()));
  }
  UnzipFiles(archive, out.c_str(), nullptr);
  zipClose(archive);
  RemoveTree(out);
  return 0;
}

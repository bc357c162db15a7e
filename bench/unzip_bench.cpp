// Extracts a whole archive with UnzipFiles, as the launcher does with its payload.
// Usage: unzip_bench ARCHIVE TARGET_DIRECTORY
#include <cstdio>

#include "archive/extract.h"
#include "archive/zip.h"
#include "host/memory.h"

int main(int argc, char** argv) {
  using namespace launcher;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE TARGET_DIRECTORY\n", argv[0]);
    return 2;
  }
  InstallOutOfMemoryHandler();
  int32_t code = 0;
  ZipArchive* archive = zipOpen(argv[1], &code);
  if (!archive) {
    std::fprintf(stderr, "%s: cannot open (code %d)\n", argv[1], code);
    return 1;
  }
  int extracted = UnzipFiles(archive, argv[2], nullptr);
  zipClose(archive);
  if (!extracted) {
    std::fprintf(stderr, "%s: extraction failed\n", argv[1]);
    return 1;
  }
  return 0;
}

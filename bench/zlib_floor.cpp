// The single-thread floor for extracting an archive: each entry read, inflated by zlib and
// written on one thread, with buffers of a chosen size and no CRC-32 check, the least work
// any one-thread extractor does. The project's reader only lists the entries.
// Usage: zlib_floor ARCHIVE TARGET_DIRECTORY [INPUT_BYTES OUTPUT_BYTES]  (default 1 MiB each)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/zip.h"

namespace {

bool WriteAll(int fd, const unsigned char* data, size_t count) {
  while (count > 0) {
    ssize_t n = ::write(fd, data, count);
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool Extract(int archiveFd, const launcher::ZipEntry& entry, int out, std::vector<unsigned char>& in,
             std::vector<unsigned char>& buffer) {
  off_t at = entry.dataOffset;
  if (entry.compressedSize == 0) {
    for (size_t left = static_cast<size_t>(entry.size); left > 0;) {
      ssize_t n = ::pread(archiveFd, buffer.data(), std::min(left, buffer.size()), at);
      if (n <= 0 || !WriteAll(out, buffer.data(), static_cast<size_t>(n))) return false;
      at += n;
      left -= static_cast<size_t>(n);
    }
    return true;
  }
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  size_t left = static_cast<size_t>(entry.compressedSize);
  int r = Z_OK;
  while (r != Z_STREAM_END) {
    if (zs.avail_in == 0) {
      ssize_t n = ::pread(archiveFd, in.data(), std::min(left, in.size()), at);
      if (n <= 0) break;
      at += n;
      left -= static_cast<size_t>(n);
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(n);
    }
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    r = inflate(&zs, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) break;
    if (!WriteAll(out, buffer.data(), buffer.size() - zs.avail_out)) break;
  }
  inflateEnd(&zs);
  return r == Z_STREAM_END;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace launcher;
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: %s ARCHIVE TARGET_DIRECTORY [INPUT_BYTES OUTPUT_BYTES]\n", argv[0]);
    return 2;
  }
  std::vector<unsigned char> in(argc == 5 ? std::strtoul(argv[3], nullptr, 10) : 1 << 20);
  std::vector<unsigned char> buffer(argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 1 << 20);
  int32_t code = 0;
  ZipArchive* archive = zipOpen(argv[1], &code);
  if (!archive) {
    std::fprintf(stderr, "%s: cannot open (code %d)\n", argv[1], code);
    return 1;
  }
  ::mkdir(argv[2], 0700);
  int status = 0;
  for (int32_t index = 0; ZipEntry* entry = zipGetNextEntry(archive, index); ++index) {
    std::string path = std::string(argv[2]) + "/" + entry->name;
    for (size_t slash = path.find('/', std::string(argv[2]).size() + 1);
         slash != std::string::npos; slash = path.find('/', slash + 1)) {
      ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    if (path.back() != '/') {
      int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
      if (out < 0 || !Extract(archive->fd.get(), *entry, out, in, buffer)) status = 1;
      if (out >= 0) ::close(out);
    }
    zipFreeEntry(archive, entry);
    if (status) break;
  }
  zipClose(archive);
  if (status) std::fprintf(stderr, "%s: extraction failed\n", argv[1]);
  return status;
}

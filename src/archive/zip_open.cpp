// Opening, sharing and closing archive records, and the list of open archives.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/zip_internal.h"

namespace launcher {

ZipArchive* zfiles = nullptr;

int initializeZip() { return 0; }

int readFully(int fd, void* buffer, int64_t count) {
  auto* cursor = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::read(fd, cursor, static_cast<size_t>(count));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    cursor += n;
    count -= n;
  }
  return 0;
}

int readFullyAt(int fd, void* buffer, int64_t count, int64_t position) {
  auto* cursor = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::pread(fd, cursor, static_cast<size_t>(count), position);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    cursor += n;
    count -= n;
    position += n;
  }
  return 0;
}

ZipArchive* allocZip(const char* path) {
  auto archive = std::make_unique<ZipArchive>();
  archive->path = path;
  return archive.release();
}

void freeZip(ZipArchive* archive) {
  zipFreeEntry(archive, nullptr);
  delete archive;
}

ZipArchive* zipOpen(const char* path, int32_t* code) {
  return zipOpenGeneric(path, code, O_RDONLY, 0);
}

ZipArchive* zipOpenGeneric(const char* path, int32_t* code, int openFlags, int64_t modTime) {
  initializeZip();
  if (code) *code = 0;

  for (ZipArchive* open = zfiles; open; open = open->next) {
    if (open->path == path && (open->modTime == modTime || open->modTime == 0) &&
        open->refCount < 65535) {
      ++open->refCount;
      return open;
    }
  }

  ZipArchive* archive = allocZip(path);
  archive->refCount = 1;
  archive->modTime = modTime;

  int fd;
  do {
    fd = ::open(path, openFlags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (code) *code = kZipCannotOpen;
    freeZip(archive);
    return nullptr;
  }
  archive->fd.reset(fd);

  off_t length = ::lseek(fd, 0, SEEK_END);
  if (length < 0 || length > kMaxArchiveSize || readCEN(archive) <= 0) {
    if (code) *code = kZipInvalid;
    freeZip(archive);  // closes the descriptor with the record
    return nullptr;
  }

  archive->next = zfiles;
  zfiles = archive;
  return archive;
}

void zipClose(ZipArchive* archive) {
  if (!archive || --archive->refCount > 0) return;
  if (zfiles == archive) {
    zfiles = archive->next;
  } else {
    for (ZipArchive* open = zfiles; open; open = open->next) {
      if (open->next == archive) {
        open->next = archive->next;
        break;
      }
    }
  }
  archive->fd.reset();
  freeZip(archive);
}

}  // namespace launcher

// Where an entry's content goes: the default buffer and copy of every sink, and the
// output file, which has the kernel copy stored content from the archive.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/zip_internal.h"
#include "host/process.h"

namespace launcher {
namespace {

// Copies count bytes at offset of from to the file position of to, page cache to page
// cache without passing through this process; the bytes copied. It stops short at the end
// of from or a failure, with *unsupported set when the kernel can't copy between these two
// files at all (another file system, an old kernel).
std::size_t KernelCopy(int from, int64_t offset, int to, std::size_t count, bool* unsupported) {
  std::size_t done = 0;
  *unsupported = false;
  while (done < count) {
    loff_t at = offset + static_cast<int64_t>(done);
    ssize_t n = ::copy_file_range(from, &at, to, nullptr, count - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      *unsupported = n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                               errno == EOPNOTSUPP);
      break;
    }
  }
  return done;
}

}  // namespace

uint8_t* EntrySink::Room(std::size_t* size) {
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize);
  *size = kBufferSize;
  return buffer_.get();
}

bool EntrySink::Produced(std::size_t count) { return Put(buffer_.get(), count); }

bool EntrySink::Copy(int fd, int64_t offset, std::size_t count, uint32_t) {
  std::size_t room = 0;
  uint8_t* buffer = Room(&room);
  while (count > 0) {
    ssize_t n;
    do {
      n = ::pread(fd, buffer, std::min(count, room), offset);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || !Put(buffer, static_cast<std::size_t>(n))) return false;
    offset += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileSink::Open(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
  } while (fd < 0 && errno == EINTR);
  fd_.reset(fd);
  crc_ = 0;
  return fd_.valid();
}

bool FileSink::Put(const uint8_t* data, std::size_t count) {
  crc_ = UpdateCrc(crc_, data, count);
  return WriteAll(fd_.get(), data, count) == 1;
}

bool FileSink::Copy(int fd, int64_t offset, std::size_t count, uint32_t crc) {
  std::size_t done = 0;
  if (kernelCopies_) {
    bool unsupported = false;
    done = KernelCopy(fd, offset, fd_.get(), count, &unsupported);
    if (done < count && !unsupported) return false;
    kernelCopies_ = !unsupported;
  }
  if (done < count &&
      !EntrySink::Copy(fd, offset + static_cast<int64_t>(done), count - done, crc)) {
    return false;
  }
  // The caller checked these bytes as it read them; the copy took them from the same place.
  crc_ = crc;
  return true;
}

}  // namespace launcher

#include "host/tempdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/memory.h"
#include "host/paths.h"
#include "host/unique_fd.h"

namespace launcher {
namespace {

char* tmpdir = nullptr;

// Everything below this depth stays: it bounds the stack (one dirent buffer per level)
// and the descriptors (one per level) when the removal runs inside a signal handler.
constexpr int kMaxDepth = kMaxRemovalDepth;

// O_NOFOLLOW: a symbolic link is removed as a link, its target never entered. O_NONBLOCK
// keeps a FIFO that replaced a directory from blocking the open.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsKept(const char* path, const char* const* keep) {
  for (; keep && *keep; ++keep) {
    if (std::strcmp(*keep, path) == 0) return true;
  }
  return false;
}

int OpenDirectoryAt(int dirFd, const char* name) {
  int fd;
  do fd = ::openat(dirFd, name, kDirectoryFlags);
  while (fd < 0 && errno == EINTR);
  return fd;
}

void RemoveContents(int dirFd, std::string* path, const char* const* keep, int depth);

// Removes name inside dirFd; path (only with a keep list) is the parent's path.
void RemoveEntry(int dirFd, const char* name, unsigned char type, std::string* path,
                 const char* const* keep, int depth) {
  if (IsDotOrDotDot(name)) return;
  std::size_t parentLength = 0;
  if (path) {
    parentLength = path->size();
    path->append("/").append(name);
    if (IsKept(path->c_str(), keep)) {
      path->resize(parentLength);
      return;
    }
  }
  if (type == DT_DIR || type == DT_UNKNOWN) {
    UniqueFd child(OpenDirectoryAt(dirFd, name));
    if (child.valid()) {
      if (depth < kMaxDepth) RemoveContents(child.get(), path, keep, depth + 1);
      ::unlinkat(dirFd, name, AT_REMOVEDIR);
    } else if (errno == ENOTDIR || errno == ELOOP) {
      ::unlinkat(dirFd, name, 0);
    } else {
      ::unlinkat(dirFd, name, AT_REMOVEDIR);  // unreadable: goes only when already empty
    }
  } else {
    ::unlinkat(dirFd, name, 0);
  }
  if (path) path->resize(parentLength);
}

// Entries are read with getdents64 into a stack buffer: no allocation, signal-safe.
void RemoveContents(int dirFd, std::string* path, const char* const* keep, int depth) {
  alignas(8) char buffer[4096];
  for (;;) {
    long length = ::syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
    if (length <= 0) return;
    for (long offset = 0; offset < length;) {
      unsigned short recordLength;
      std::memcpy(&recordLength, buffer + offset + offsetof(struct dirent64, d_reclen),
                  sizeof recordLength);
      unsigned char type = static_cast<unsigned char>(
          buffer[offset + offsetof(struct dirent64, d_type)]);
      RemoveEntry(dirFd, buffer + offset + offsetof(struct dirent64, d_name), type, path,
                  keep, depth);
      offset += recordLength;
    }
  }
}

// path is absolute and does not end in '/'.
void RemovePath(const char* path, const char* const* keep) {
  if (IsDotOrDotDot(std::strrchr(path, '/') + 1)) return;
  if (IsKept(path, keep)) return;
  struct stat st;
  if (::lstat(path, &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlink(path);
    return;
  }
  {
    UniqueFd dir(OpenDirectoryAt(AT_FDCWD, path));
    if (dir.valid()) {
      if (keep) {
        std::string parent = path;
        RemoveContents(dir.get(), &parent, keep, 1);
      } else {
        RemoveContents(dir.get(), nullptr, nullptr, 1);
      }
    }
  }
  ::rmdir(path);
}

}  // namespace

int SetTempDir(const char* path) {
  if (!path) return 0;
  std::string candidate;
  if (IsAbsolutePath(path)) {
    candidate = path;
  } else {
    auto cwd = GetCurrentDirectory();
    if (!cwd) return 0;
    candidate = Resolve(cwd->c_str(), path);
  }
  struct stat st;
  if (::access(candidate.c_str(), R_OK | W_OK | X_OK) != 0 ||
      ::stat(candidate.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return 0;
  }
  std::free(tmpdir);
  tmpdir = StrDup(candidate.c_str());
  return 1;
}

const char* GetTempDir() {
  if (!tmpdir) SetTempDir("/var/tmp/");
  return tmpdir;
}

void DeleteFilesAndDirectories(const char* path, const char* const* keep) {
  if (!IsAbsolutePath(path)) return;
  const int savedErrno = errno;  // may run inside a signal handler
  std::size_t length = std::strlen(path);
  if (path[length - 1] != '/') {
    RemovePath(path, keep);
  } else {
    // A trailing '/' names the same tree as the path without it; only that path is
    // handled, so "/" or "/a/../" never reach the root and "kept/" stays kept.
    while (length > 0 && path[length - 1] == '/') --length;
    char trimmed[PATH_MAX];
    if (length > 0 && length < sizeof trimmed) {
      std::memcpy(trimmed, path, length);
      trimmed[length] = '\0';
      RemovePath(trimmed, keep);
    }
  }
  errno = savedErrno;
}

}  // namespace launcher

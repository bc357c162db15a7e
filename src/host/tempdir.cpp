#include "host/tempdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "host/lasting.h"
#include "host/paths.h"
#include "host/unique_fd.h"

namespace launcher {
namespace {

Lasting<std::optional<std::string>> tmpdir;

// Everything below this depth stays: it bounds the walk's table (a few bytes per level) and
// the descriptors (one per level) when the removal runs inside a signal handler.
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

// One directory of the walk: its descriptor, where to read on, and the subdirectory it
// was last left for, which is not entered again when it could not be emptied.
struct Level {
  int fd;
  off_t next;
  ino64_t left;
};

// Removes everything below the directory rootFd, walking the tree without recursion: a
// handler may run it on a small stack, whatever the depth. Entries are read with
// getdents64 into one buffer, and nothing is allocated unless path (the root's path, only
// with a keep list) is given. A subdirectory that a first rmdir finds not empty is
// entered; once its entries are gone the walk reads its parent again from that
// subdirectory's own entry (directory offsets are stable cookies), and the rmdir succeeds.
void RemoveContents(int rootFd, std::string* path, const char* const* keep) {
  Level levels[kMaxDepth];  // levels[i] holds the entries at depth i + 1
  int top = 0;
  levels[0] = {rootFd, 0, 0};
  alignas(8) char buffer[4096];
  while (top >= 0) {
    Level& level = levels[top];
    long length = -1;
    if (::lseek(level.fd, level.next, SEEK_SET) >= 0) {
      length = ::syscall(SYS_getdents64, level.fd, buffer, sizeof buffer);
    }
    bool entered = false;
    for (long offset = 0; offset < length && !entered;) {
      struct dirent64 entry;  // the fixed part; the name stays in the buffer
      std::memcpy(&entry, buffer + offset, offsetof(struct dirent64, d_name));
      const char* name = buffer + offset + offsetof(struct dirent64, d_name);
      offset += entry.d_reclen;
      off_t start = level.next;
      level.next = entry.d_off;
      if (IsDotOrDotDot(name)) continue;
      if (path) {
        std::size_t parentLength = path->size();
        bool kept = IsKept(path->append("/").append(name).c_str(), keep);
        path->resize(parentLength);
        if (kept) continue;
      }
      // Anything but a directory (DT_UNKNOWN may be one: unlink refuses it with EISDIR).
      if (entry.d_type != DT_DIR) {
        if (::unlinkat(level.fd, name, 0) == 0 || errno != EISDIR) continue;
      }
      if (::unlinkat(level.fd, name, AT_REMOVEDIR) == 0) continue;
      if (errno == ENOTDIR) ::unlinkat(level.fd, name, 0);  // replaced meanwhile
      // Not emptied when it was entered before, too deep or unreadable: it stays.
      if (errno != ENOTEMPTY && errno != EEXIST) continue;
      if (entry.d_ino == level.left || top + 1 >= kMaxDepth) continue;
      int child = OpenDirectoryAt(level.fd, name);
      if (child < 0) continue;
      level.next = start;
      level.left = entry.d_ino;
      if (path) path->append("/").append(name);
      levels[++top] = {child, 0, 0};
      entered = true;
    }
    if (entered || length > 0) continue;
    if (top > 0) {
      ::close(level.fd);
      if (path) path->resize(path->rfind('/'));
    }
    --top;
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
        RemoveContents(dir.get(), &parent, keep);
      } else {
        RemoveContents(dir.get(), nullptr, nullptr);
      }
    }
  }
  ::rmdir(path);
}

bool IsDirectory(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Six name characters; getrandom rarely fails, and then the clock still varies the names.
void RandomSuffix(char* out) {
  static constexpr char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != sizeof bytes) {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) * 2654435761u ^
                             static_cast<unsigned long long>(::getpid()) << 20;
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(mix >>= 5);
  }
  for (int i = 0; i < 6; ++i) out[i] = kChars[bytes[i] % (sizeof kChars - 1)];
}

// Names tried before giving up when every proposal is taken.
constexpr int kMaxNameAttempts = 100;

}  // namespace

std::optional<std::string> ProposeTempName(const char* dir, const char* prefix) {
  // The same choice and shape as the C library's tempnam, whose use the linker warns about.
  const char* fromEnvironment = ::secure_getenv("TMPDIR");
  if (IsDirectory(fromEnvironment)) {
    dir = fromEnvironment;
  } else if (!IsDirectory(dir)) {
    if (!IsDirectory("/tmp")) return std::nullopt;
    dir = "/tmp";
  }
  std::size_t dirLength = std::strlen(dir);
  while (dirLength > 1 && dir[dirLength - 1] == '/') --dirLength;
  if (!prefix || !*prefix) prefix = "file";
  std::string name(dir, dirLength);
  name.append("/").append(prefix, std::min<std::size_t>(std::strlen(prefix), 5));
  if (name.size() + 6 >= PATH_MAX) return std::nullopt;
  name.append(6, 'X');
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    RandomSuffix(&name[name.size() - 6]);
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) return name;
  }
  return std::nullopt;
}

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
  *tmpdir = std::move(candidate);
  return 1;
}

const char* GetTempDir() {
  if (!*tmpdir) SetTempDir("/var/tmp/");
  return HandOut(*tmpdir);
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

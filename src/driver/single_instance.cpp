#include "driver/single_instance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/lasting.h"
#include "host/self_location.h"
#include "host/tempdir.h"
#include "host/unique_fd.h"
#include "messages/output.h"
#include "messages/profile.h"

namespace launcher {
namespace {

// On 32-bit x86 a 32-bit ino_t makes stat fail with EOVERFLOW on file systems with 64-bit
// inode numbers, and the launcher would then run without its lock.
static_assert(sizeof(ino_t) == 8, "build with -D_FILE_OFFSET_BITS=64");

Lasting<std::string> lockfile;
bool haveLockfile = false;
Lasting<UniqueFd> lockfd;

// In a shared temporary directory another user may plant anything at the path: O_NOFOLLOW
// keeps a symbolic link from being followed, O_NONBLOCK a FIFO from blocking the open, and
// the file is emptied only once it is known to be our own (see IsOwnLockFile).
constexpr int kLockFileFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// An ending instance unlinks its file while still holding the lock; a lock taken on such
// an unlinked file protects nothing, so the file is created and locked again.
constexpr int kMaxLockAttempts = 8;

bool StillNamedBy(int fd, const char* path) {
  struct stat opened;
  struct stat named;
  return ::fstat(fd, &opened) == 0 && ::lstat(path, &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// A regular file of this user with one link: anything else (a device, another user's file,
// a hard link to a file that lives elsewhere) is neither emptied, locked nor removed.
bool IsOwnLockFile(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         st.st_nlink == 1;
}

[[noreturn]] void RefuseSecondInstance() {
  ErrorMessage(GetMessageKeyPrefix("already_started").c_str());
  std::exit(1);
}

}  // namespace

void ExitIfNotOnlyInstance() {
  const char* tempDir = GetTempDir();
  if (!tempDir) return;
  const char* exec = GetExecName();
  if (!exec) return;
  struct stat executable;
  if (::stat(exec, &executable) != 0) return;

  char numbers[80];
  std::snprintf(numbers, sizeof numbers, ".%lu.%llu.%lu",
                static_cast<unsigned long>(executable.st_dev),
                static_cast<unsigned long long>(executable.st_ino),
                static_cast<unsigned long>(::geteuid()));
  *lockfile = std::string(tempDir) + "/" + GetTitle() + numbers;
  haveLockfile = true;

  for (int attempt = 0; attempt < kMaxLockAttempts; ++attempt) {
    UniqueFd fd(::open(lockfile->c_str(), kLockFileFlags, 0600));
    if (!fd.valid()) break;
    if (!IsOwnLockFile(fd.get())) {
      haveLockfile = false;  // not ours: run on unprotected, and never unlink it
      break;
    }
    if (::ftruncate(fd.get(), 0) != 0) break;
    struct flock request = {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    if (::fcntl(fd.get(), F_SETLK, &request) != 0) {
      if (errno == EAGAIN || errno == EACCES) RefuseSecondInstance();
      *lockfd = std::move(fd);  // no lock to be had: run on unprotected
      break;
    }
    if (StillNamedBy(fd.get(), lockfile->c_str()) || attempt + 1 == kMaxLockAttempts) {
      *lockfd = std::move(fd);
      break;
    }
  }
  std::atexit(DeleteLockFile);
}

void DeleteLockFile() {
  // Unlinked before the descriptor is closed, so the lock covers the removal: a starting
  // instance either is refused or finds no file and makes a new one.
  if (haveLockfile) {
    ::unlink(lockfile->c_str());
    haveLockfile = false;
  }
  lockfd->reset();
}

}  // namespace launcher

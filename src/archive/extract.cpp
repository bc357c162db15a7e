// Extraction of an open archive's entries into a directory.
#include "archive/extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/locale.h"
#include "host/memory.h"
#include "host/tempdir.h"

namespace launcher {
namespace {

constexpr size_t kInitialPathCapacity = 1025;

struct FreeDeleter {
  void operator()(char* block) const { std::free(block); }
};

// A damaged or hostile payload must not write outside the target directory. Every '/'
// byte is checked here, multibyte or not, because the kernel splits paths on each of them.
bool EscapesTarget(const char* name) {
  if (name[0] == '/') return true;
  for (const char* part = name;;) {
    const char* slash = std::strchr(part, '/');
    size_t length = slash ? static_cast<size_t>(slash - part) : std::strlen(part);
    if (length == 2 && part[0] == '.' && part[1] == '.') return true;
    if (!slash) return false;
    part = slash + 1;
  }
}

// The working directory is removed only down to kMaxRemovalDepth levels, so a deeper
// entry would outlive the run.
bool TooDeep(const char* name) {
  int separators = 0;
  for (const char* p = name; *p; ++p) separators += *p == '/';
  return separators >= kMaxRemovalDepth;
}

// Makes each directory on path from dirLen on, replacing anything on the way that is not
// a directory; returns false when the name ends in '/' (a directory entry, no file).
bool MakeParents(char* path, size_t dirLen) {
  for (char* separator = _strchr(path + dirLen, '/'); separator;
       separator = _strchr(separator + 1, '/')) {
    *separator = '\0';
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path);
    ::mkdir(path, 0700);  // an existing directory is simply kept
    *separator = '/';
    if (separator[1] == '\0') return false;
  }
  return true;
}

bool HasPrefix(const char* name, const char* prefix) {
  return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// The walk over the entries shared by both extraction variants: an entry is handled when
// its name begins with included (or included is null) and not with excluded.
int Extract(ZipArchive* archive, const char* targetDirectory, const char* included,
            const char* excluded) {
  if (!archive || !targetDirectory) return 0;
  size_t dirLen = std::strlen(targetDirectory);
  size_t capacity = kInitialPathCapacity;
  std::unique_ptr<char, FreeDeleter> path(static_cast<char*>(MemAlloc(capacity)));

  for (int32_t index = 0;; ++index) {
    ZipEntry* entry = zipGetNextEntry(archive, index);
    // Before the last index, no entry means a local header that can't be read: damage that
    // must not pass for the end of the directory, with the entries after it never written.
    if (!entry) return index >= archive->entryCount ? 1 : 0;
    const char* name = entry->name.c_str();
    if ((included && !HasPrefix(name, included)) || (excluded && HasPrefix(name, excluded))) {
      zipFreeEntry(archive, entry);
      continue;
    }
    if (EscapesTarget(name) || TooDeep(name)) {
      zipFreeEntry(archive, entry);
      return 0;
    }

    size_t needed = entry->name.size() + dirLen + 2;
    if (needed > capacity) {
      capacity = needed;
      path.reset(static_cast<char*>(MemAlloc(capacity)));
    }
    std::memcpy(path.get(), targetDirectory, dirLen);
    path.get()[dirLen] = '/';
    std::memcpy(path.get() + dirLen + 1, name, entry->name.size() + 1);

    bool isFile = MakeParents(path.get(), dirLen);
    int written = isFile ? zipReadEntry(archive, entry, path.get()) : 1;
    zipFreeEntry(archive, entry);
    if (!written) return 0;
  }
}

}  // namespace

int UnzipFiles(ZipArchive* archive, const char* targetDirectory, const char* namePrefix) {
  return Extract(archive, targetDirectory, namePrefix, nullptr);
}

int UnzipFilesExcept(ZipArchive* archive, const char* targetDirectory,
                     const char* excludedPrefix) {
  return Extract(archive, targetDirectory, nullptr, excludedPrefix);
}

}  // namespace launcher

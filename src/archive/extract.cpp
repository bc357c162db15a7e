// Extraction of an open archive's entries into a directory.
#include "archive/extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/zip_internal.h"
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

// Makes each directory on path from dirLen up to lastSeparator, replacing anything on the
// way that is not a directory; false when one of them could not be made.
bool MakeParents(char* path, size_t dirLen, const char* lastSeparator) {
  bool made = true;
  for (char* separator = _strchr(path + dirLen, '/'); separator && separator <= lastSeparator;
       separator = _strchr(separator + 1, '/')) {
    *separator = '\0';
    struct stat st;
    bool found = ::stat(path, &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
      if (found) ::unlink(path);
      if (::mkdir(path, 0700) != 0) made = false;
    }
    *separator = '/';
  }
  return made;
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
  std::string madeChain;  // the directory chain that the last walk made completely
  std::vector<uint8_t> headerBuffer;
  std::string locName;

  for (int32_t index = 0;; ++index) {
    // Picking a few entries out of many (the payload runtime) needs only their names: the
    // whole record, with its extra field, is built for the entries that are taken. An
    // entry whose name can't be read goes the full way and fails there.
    if (included && index < archive->entryCount &&
        static_cast<size_t>(index) < archive->cells.size() &&
        readLOCName(archive, archive->cells[static_cast<size_t>(index)], headerBuffer,
                    &locName) &&
        !HasPrefix(locName.c_str(), included)) {
      continue;
    }
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

    // Entries of one directory mostly follow one another; their common chain was made a
    // moment ago, so it is walked again only when it differs from the last one made.
    char* file = path.get();
    const char* lastSeparator = _strrchr(file + dirLen, '/');  // at least the one at dirLen
    size_t chainLength = static_cast<size_t>(lastSeparator - file);
    if (chainLength != madeChain.size() || std::memcmp(file, madeChain.data(), chainLength) != 0) {
      madeChain.clear();
      if (MakeParents(file, dirLen, lastSeparator)) madeChain.assign(file, chainLength);
    }
    bool isFile = lastSeparator[1] != '\0';  // a name ending in '/' is a directory entry
    // A directory entry has no content, so its header must carry the CRC of nothing.
    int written = isFile ? zipReadEntry(archive, entry, path.get()) : entry->crc == 0;
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

// Shared helpers of the archive tests: archives written to scratch files and opened.
#pragma once

#include <fcntl.h>

#include <string>

#include "archive/zip_internal.h"
#include "support/scratch.h"

namespace launcher::test {

// Entry record handed back to the archive's cache when the test ends.
class Entry {
 public:
  Entry(ZipArchive* archive, ZipEntry* entry) : archive_(archive), entry_(entry) {}
  ~Entry() {
    if (entry_) zipFreeEntry(archive_, entry_);
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
  ZipEntry* get() const { return entry_; }
  ZipEntry* operator->() const { return entry_; }
  explicit operator bool() const { return entry_ != nullptr; }

 private:
  ZipArchive* archive_;
  ZipEntry* entry_;
};

// What readCEN made of an archive: its result and the failure text, if any.
struct CenResult {
  int64_t result;
  std::string message;
  int32_t entryCount;
  size_t cells;
};

inline CenResult ReadCenOf(const std::string& path) {
  ZipArchive* archive = allocZip(path.c_str());
  archive->fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  CenResult out{readCEN(archive), archive->message ? archive->message : "",
                archive->entryCount, archive->cells.size()};
  freeZip(archive);
  return out;
}

inline std::string Store(const ScratchDir& dir, const std::string& bytes,
                         const std::string& name = "archive.zip") {
  std::string path = dir / name;
  WriteFile(path, bytes);
  return path;
}

}  // namespace launcher::test

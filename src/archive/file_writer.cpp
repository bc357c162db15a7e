#include "archive/file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "host/locale.h"

namespace launcher {
namespace {

// Makes each directory on path from dirLen up to lastSeparator, replacing anything on the
// way that is not a directory; false when one of them could not be made.
bool MakeParents(char* path, std::size_t dirLen, const char* lastSeparator) {
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

}  // namespace

FileWriter::FileWriter(const char* targetDirectory, int archiveFd)
    : path_(targetDirectory), dirLen_(path_.size()), archiveFd_(archiveFd) {
  path_ += '/';
}

bool FileWriter::Consume(const Block& block) {
  std::size_t at = 0;
  while (at < block.used) {
    const uint8_t* record = block.bytes.get() + at;
    auto kind = static_cast<RecordKind>(record[0]);
    bool last = record[1] != 0;
    uint32_t length;
    std::memcpy(&length, record + 2, sizeof length);
    const uint8_t* bytes = record + Block::kHeaderSize;
    at += Block::kHeaderSize + length;
    switch (kind) {
      case RecordKind::kDirectory:
      case RecordKind::kFile:
        path_.append(reinterpret_cast<const char*>(bytes), length);
        if (last && !Create(kind == RecordKind::kFile)) return false;
        break;
      case RecordKind::kData:
        if (!file_.Put(bytes, length)) return false;
        break;
      case RecordKind::kCopy: {
        CopyRange range;
        if (length != sizeof range) return false;
        std::memcpy(&range, bytes, sizeof range);
        if (!file_.Copy(archiveFd_, range.offset, range.length, range.crc)) return false;
        break;
      }
      case RecordKind::kClose: {
        file_.Close();
        uint32_t expected = 0;
        if (length == sizeof expected) std::memcpy(&expected, bytes, sizeof expected);
        // A flipped bit in a downloaded installer must not install silently.
        if (length != sizeof expected || file_.crc() != expected) {
          crcMismatch_ = true;
          return false;
        }
        break;
      }
    }
  }
  return true;
}

bool FileWriter::Create(bool isFile) {
  // Entries of one directory mostly follow one another; their common chain was made a
  // moment ago, so it is walked again only when it differs from the last one made.
  char* file = path_.data();
  const char* lastSeparator = _strrchr(file + dirLen_, '/');  // at least the one at dirLen_
  std::size_t chainLength = static_cast<std::size_t>(lastSeparator - file);
  if (chainLength != madeChain_.size() || std::memcmp(file, madeChain_.data(), chainLength) != 0) {
    madeChain_.clear();
    if (MakeParents(file, dirLen_, lastSeparator)) madeChain_.assign(file, chainLength);
  }
  bool opened = !isFile || file_.Open(file);
  path_.resize(dirLen_ + 1);
  return opened;
}

}  // namespace launcher

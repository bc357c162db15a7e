// Reader for the zip archive appended to the launcher (or any plain zip file).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/unique_fd.h"

namespace launcher {

// Compact index record of one entry, built from its central-directory header; it keeps no
// name, only the name's hash, so the index of a large archive stays small.
struct ZipCell {
  int64_t locOffset;       // absolute position of the LOC header (stored offset + prefix)
  int64_t cenPosition;     // absolute position of the CEN header
  uint32_t nameHash;       // hash of the CEN name bytes
  int32_t size;            // uncompressed size
  int32_t compressedSize;  // 0 for a stored entry, whatever the header holds
  uint32_t crc;
  // CEN name length + CEN extra length: up to 131,070, so it needs more than 16 bits.
  uint32_t nameExtraLen;
  uint16_t nextInChain;    // next cell on the same hash chain; 0xFFFF ends it
  uint16_t cenExtraLen;
};

// One entry as handed to callers; built on demand from a cell and the LOC header.
struct ZipEntry {
  std::string name;                           // from the LOC header, up to its first NUL
  uint32_t time = 0;                          // MS-DOS time (low 16 bits), date (high 16)
  int32_t size = 0;
  int32_t compressedSize = 0;                 // 0 means stored
  uint32_t crc = 0;
  const char* comment = nullptr;              // borrowed from the archive while it is open
  std::optional<std::vector<uint8_t>> extra;  // 2-byte little-endian length, then the field
  int64_t dataOffset = 0;                     // absolute position of the first data byte
};

// One open archive file, shared by every open of the same path.
struct ZipArchive {
  std::string path;                 // exactly as passed to zipOpenGeneric
  int32_t refCount = 0;             // outstanding opens, 1 to 65,535
  UniqueFd fd;
  std::optional<std::string> comment;    // archive comment; empty optional when none
  const char* message = nullptr;         // static text of the most recent failure
  std::vector<ZipCell> cells;            // central-directory order; index = entry index
  int32_t entryCount = 0;
  std::vector<uint16_t> chainHeads;      // first cell of each hash chain; 0xFFFF when empty
  int32_t headCount = 0;                 // entryCount / 2, at least 1
  ZipArchive* next = nullptr;            // next record in the open-archive list
  std::unique_ptr<ZipEntry> cachedEntry;  // the entry most recently released
  std::vector<std::optional<std::string>> metaNames;  // names under META-INF/, in order
  int32_t metaSlots = 0;
  std::vector<std::optional<std::string>> entryComments;  // empty until the first comment
  int64_t modTime = 0;                   // stamp given at open; 0 matches any stamp
};

// Result codes of zipOpenGeneric.
constexpr int32_t kZipCannotOpen = -4;
constexpr int32_t kZipInvalid = -2;

// zipOpenGeneric read-only with no stamp.
ZipArchive* zipOpen(const char* path, int32_t* code);
// A shared or new record for path, or null with *code set to -4 (cannot open) or -2 (no
// valid archive); the descriptor is always opened close-on-exec.
ZipArchive* zipOpenGeneric(const char* path, int32_t* code, int openFlags, int64_t modTime);
// Releases one reference; the last one closes the file and frees the record.
void zipClose(ZipArchive* archive);

// Owner of one open of an archive: its reference is released on every path.
struct ZipCloser {
  void operator()(ZipArchive* archive) const noexcept { zipClose(archive); }
};
using ZipHandle = std::unique_ptr<ZipArchive, ZipCloser>;

// The entry with this index in directory order, or null (out of range, unreadable LOC).
ZipEntry* zipGetNextEntry(ZipArchive* archive, int32_t index);
// The entry whose name equals name (the later one of duplicates), or null.
ZipEntry* zipGetEntry(ZipArchive* archive, const char* name);
// zipGetEntry that also reports the entry's size and name length.
ZipEntry* zipFindEntry(ZipArchive* archive, const char* name, int32_t* sizeOut,
                       int32_t* nameLengthOut);
// Hands an entry back into the archive's one-slot cache; null empties the cache.
void zipFreeEntry(ZipArchive* archive, ZipEntry* entry);

// Up to length raw (stored or compressed) bytes from position; -1 on failure.
int32_t zipRead(ZipArchive* archive, ZipEntry* entry, int32_t position, void* buffer,
                int32_t length);
// Writes the entry's content to path (created 0700, truncated); 1 on success, 0 on failure.
int zipReadEntry(ZipArchive* archive, ZipEntry* entry, const char* path);

}  // namespace launcher

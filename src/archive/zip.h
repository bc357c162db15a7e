// Reader for the zip archive appended to the launcher (or any plain zip file).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// Compact index record of one entry, built from its central-directory header; keeps no
// name, only the name's hash, so the index of a large archive stays small.
struct ZipCell {
  uint32_t locOffset;      // absolute position of the LOC header
  uint32_t nameHash;       // hash of the name bytes
  uint16_t nameExtraLen;   // CEN name length + CEN extra length
  uint16_t nextInChain;    // next cell on the same hash chain; 0xFFFF ends it
  int32_t size;            // uncompressed size
  int32_t compressedSize;  // 0 for a stored entry
  uint32_t crc;
  uint16_t cenExtraLen;
  int32_t cenPosition;     // absolute position of the CEN header
};

struct ZipEntry {
  std::string name;                      // from the LOC header
  uint32_t time = 0;                     // MS-DOS time (low 16 bits) and date (high 16 bits)
  int32_t size = 0;
  int32_t compressedSize = 0;            // 0 means stored
  uint32_t crc = 0;
  const char* comment = nullptr;         // borrowed from the archive
  std::optional<std::vector<uint8_t>> extra;  // 2-byte little-endian length, then the field
  int32_t dataOffset = 0;                // absolute position of the first data byte
};

struct ZipArchive {
  std::string path;
  int32_t refCount = 0;
  int fd = -1;
  std::optional<std::string> comment;
  const char* message = nullptr;         // static text of the most recent failure
  std::vector<ZipCell> cells;
  int32_t entryCount = 0;
  std::vector<uint16_t> chainHeads;
  int32_t headCount = 0;
  ZipArchive* next = nullptr;
  std::unique_ptr<ZipEntry> cachedEntry;
  std::vector<std::optional<std::string>> metaNames;
  int32_t metaSlots = 0;
  std::vector<std::optional<std::string>> entryComments;  // empty until the first comment
  int64_t modTime = 0;
};

// Result codes of zipOpenGeneric.
constexpr int32_t kZipCannotOpen = -4;
constexpr int32_t kZipInvalid = -2;

ZipArchive* zipOpen(const char* path, int32_t* code);
ZipArchive* zipOpenGeneric(const char* path, int32_t* code, int openFlags, int64_t modTime);
void zipClose(ZipArchive* archive);

ZipEntry* zipGetNextEntry(ZipArchive* archive, int32_t index);
ZipEntry* zipGetEntry(ZipArchive* archive, const char* name);
ZipEntry* zipFindEntry(ZipArchive* archive, const char* name, int32_t* sizeOut,
                       int32_t* nameLengthOut);
void zipFreeEntry(ZipArchive* archive, ZipEntry* entry);

int32_t zipRead(ZipArchive* archive, ZipEntry* entry, int32_t position, void* buffer,
                int32_t length);
int zipReadEntry(ZipArchive* archive, ZipEntry* entry, const char* path);

}  // namespace launcher

// Entry records built from LOC headers, lookup by index and by name, raw reads.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/zip_internal.h"

namespace launcher {
namespace {

constexpr uint32_t kLocSignature = 0x04034B50;

std::string NameUpToNul(const uint8_t* bytes, size_t length) {
  const char* text = reinterpret_cast<const char*>(bytes);
  const void* nul = std::memchr(text, '\0', length);
  return std::string(text, nul ? static_cast<const char*>(nul) - text : length);
}

// Reads the LOC header of cell into header, with as much of its name (and, without a CEN
// extra field, its extra field) as it refers to; the name and extra lengths go to the
// out-parameters. False with message set on a failure. Reads go to absolute positions
// (pread): one call per header instead of a seek and a read, which counts when a payload
// holds tens of thousands of small entries.
bool readLOCHeader(ZipArchive* archive, const ZipCell& cell, std::vector<uint8_t>& header,
                   uint16_t* locNameLen, uint16_t* locExtraLen) {
  int fd = archive->fd.get();
  if (cell.locOffset < 0) {
    archive->message = "seek failed";
    return false;
  }
  header.resize(size_t{kLocHeaderSize} + cell.nameExtraLen);
  if (readFullyAt(fd, header.data(), static_cast<int64_t>(header.size()), cell.locOffset) != 0) {
    archive->message = "couldn't read LOC header";
    return false;
  }
  if (ByteView(header.data(), header.size()).U32(0) != kLocSignature) {
    archive->message = "invalid LOC header (bad signature)";
    return false;
  }
  *locNameLen = ByteView(header.data(), header.size()).U16(26);
  *locExtraLen = ByteView(header.data(), header.size()).U16(28);

  // Common zip tools write longer extra fields in the LOC header than in the CEN one, so
  // the bytes sized from the CEN header may not cover what the LOC header refers to.
  size_t needed =
      size_t{kLocHeaderSize} + *locNameLen + (cell.cenExtraLen == 0 ? *locExtraLen : 0);
  if (needed > header.size()) {
    size_t have = header.size();
    header.resize(needed);
    if (readFullyAt(fd, header.data() + have, static_cast<int64_t>(needed - have),
                    cell.locOffset + static_cast<int64_t>(have)) != 0) {
      archive->message = "couldn't read LOC header";
      return false;
    }
  }
  return true;
}

}  // namespace

int readLOCName(ZipArchive* archive, const ZipCell& cell, std::vector<uint8_t>& buffer,
                std::string* name) {
  uint16_t locNameLen = 0;
  uint16_t locExtraLen = 0;
  if (!readLOCHeader(archive, cell, buffer, &locNameLen, &locExtraLen)) return 0;
  *name = NameUpToNul(buffer.data() + kLocHeaderSize, locNameLen);
  return 1;
}

ZipEntry* readLOC(ZipArchive* archive, const ZipCell& cell) {
  int fd = archive->fd.get();
  std::vector<uint8_t> header;
  uint16_t locNameLen = 0;
  uint16_t locExtraLen = 0;
  if (!readLOCHeader(archive, cell, header, &locNameLen, &locExtraLen)) return nullptr;

  auto entry = std::make_unique<ZipEntry>();
  entry->name = NameUpToNul(header.data() + kLocHeaderSize, locNameLen);

  if (cell.cenExtraLen > 0) {
    std::vector<uint8_t> extra(size_t{cell.cenExtraLen} + 2);
    extra[0] = static_cast<uint8_t>(cell.cenExtraLen & 0xFF);
    extra[1] = static_cast<uint8_t>(cell.cenExtraLen >> 8);
    int64_t at = cell.cenPosition + kCenHeaderSize + (cell.nameExtraLen - cell.cenExtraLen);
    if (at < 0) {
      archive->message = "seek failed";
      return nullptr;
    }
    if (readFullyAt(fd, extra.data() + 2, cell.cenExtraLen, at) != 0) {
      archive->message = "couldn't read CEN extra";
      return nullptr;
    }
    entry->extra = std::move(extra);
  } else if (locExtraLen > 0) {
    std::vector<uint8_t> extra(size_t{locExtraLen} + 2);
    extra[0] = static_cast<uint8_t>(locExtraLen & 0xFF);
    extra[1] = static_cast<uint8_t>(locExtraLen >> 8);
    std::memcpy(extra.data() + 2, header.data() + kLocHeaderSize + locNameLen, locExtraLen);
    entry->extra = std::move(extra);
  }

  if (!archive->entryComments.empty()) {
    auto& slot = archive->entryComments[static_cast<size_t>(&cell - archive->cells.data())];
    if (slot) entry->comment = slot->c_str();
  }
  entry->size = cell.size;
  entry->compressedSize = cell.compressedSize;
  entry->crc = cell.crc;
  entry->time = ByteView(header.data(), header.size()).U32(10);
  entry->dataOffset = cell.locOffset + kLocHeaderSize + locNameLen + locExtraLen;
  return entry.release();
}

ZipEntry* zipGetNextEntry(ZipArchive* archive, int32_t index) {
  if (index < 0 || index >= archive->entryCount ||
      static_cast<size_t>(index) >= archive->cells.size()) {
    return nullptr;
  }
  return readLOC(archive, archive->cells[static_cast<size_t>(index)]);
}

ZipEntry* zipGetEntry(ZipArchive* archive, const char* name) {
  if (archive->chainHeads.empty()) return nullptr;
  uint32_t h = hash(name);
  uint16_t idx = archive->chainHeads[h % static_cast<uint32_t>(archive->headCount)];

  if (archive->cachedEntry && archive->cachedEntry->name == name) {
    return archive->cachedEntry.release();
  }
  while (idx != kEndOfChain) {
    const ZipCell& cell = archive->cells[idx];
    if (cell.nameHash == h) {
      ZipEntry* entry = readLOC(archive, cell);
      if (entry && entry->name == name) return entry;
      // A near miss only shares the hash; caching it serves a later lookup of its name.
      if (entry) zipFreeEntry(archive, entry);
    }
    idx = cell.nextInChain;
  }
  return nullptr;
}

ZipEntry* zipFindEntry(ZipArchive* archive, const char* name, int32_t* sizeOut,
                       int32_t* nameLengthOut) {
  ZipEntry* entry = zipGetEntry(archive, name);
  if (entry) {
    if (sizeOut) *sizeOut = entry->size;
    if (nameLengthOut) *nameLengthOut = static_cast<int32_t>(entry->name.size());
  }
  return entry;
}

void zipFreeEntry(ZipArchive* archive, ZipEntry* entry) {
  // Releasing the cached record again must not destroy it under its new owner.
  if (entry && entry == archive->cachedEntry.get()) return;
  archive->cachedEntry.reset(entry);
}

int32_t zipRead(ZipArchive* archive, ZipEntry* entry, int32_t position, void* buffer,
                int32_t length) {
  archive->message = nullptr;
  int64_t total = entry->compressedSize != 0 ? entry->compressedSize : entry->size;
  if (position < 0 || position > total - 1) {
    archive->message = "zipRead: specified offset out of range";
    return -1;
  }
  if (length <= 0) return 0;
  if (length > total - position) length = static_cast<int32_t>(total - position);
  int64_t at = entry->dataOffset + position;
  if (at < 0) return -1;
  ssize_t n;
  do {
    n = ::pread(archive->fd.get(), buffer, static_cast<size_t>(length), at);
  } while (n < 0 && errno == EINTR);
  return static_cast<int32_t>(n);
}

}  // namespace launcher

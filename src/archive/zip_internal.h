// Operations shared by the zip reader's own files and its tests; not for other subsystems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "archive/zip.h"

namespace launcher {

// Sizes of the fixed-length headers and the reader's limits.
constexpr int kEndHeaderSize = 22;
constexpr int kCenHeaderSize = 46;
constexpr int kLocHeaderSize = 30;
constexpr int32_t kMaxEntries = 65534;
constexpr int64_t kMaxArchiveSize = 2147483647;
constexpr uint16_t kEndOfChain = 0xFFFF;
// Bytes of the central directory that readCEN holds at once, unless one header is larger.
constexpr std::size_t kCenWindowSize = 64 * 1024;

// Little-endian fields read from a byte range whose length the caller has checked; an
// access outside the range is a bug in the reader, so it aborts instead of reading on.
class ByteView {
 public:
  ByteView(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint16_t U16(std::size_t at) const {
    Check(at, 2);
    return static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8));
  }
  uint32_t U32(std::size_t at) const {
    Check(at, 4);
    return static_cast<uint32_t>(data_[at]) | (static_cast<uint32_t>(data_[at + 1]) << 8) |
           (static_cast<uint32_t>(data_[at + 2]) << 16) |
           (static_cast<uint32_t>(data_[at + 3]) << 24);
  }
  int32_t S32(std::size_t at) const { return static_cast<int32_t>(U32(at)); }

 private:
  void Check(std::size_t at, std::size_t width) const {
    if (at > size_ || width > size_ - at) std::abort();
  }
  const uint8_t* data_;
  std::size_t size_;
};

// Head of the list of open archives, newest first.
extern ZipArchive* zfiles;

// The reader's set-up step, which needs nothing here; always 0. Kept because the zip
// reader's interface is specified whole.
int initializeZip();
// Reads exactly count bytes; 0, or -1 as soon as a read returns 0 or fails.
int readFully(int fd, void* buffer, int64_t count);
// readFully from a file position, without moving the descriptor's offset.
int readFullyAt(int fd, void* buffer, int64_t count, int64_t position);
// A zero-filled record holding a copy of path.
ZipArchive* allocZip(const char* path);
// Releases the record and everything it owns, the cached entry included.
void freeZip(ZipArchive* archive);
// Position of the END header (its 22 bytes copied to endBuffer) and the archive comment
// read; 0 when none is found, -1 on a failed seek or read.
int64_t findEND(ZipArchive* archive, uint8_t* endBuffer);
// Indexes the central directory; its position (> 0), 0 without an END header, -1 on a
// failure (with message set where a text applies).
int64_t readCEN(ZipArchive* archive);
// 31-based hash of the name's bytes taken as signed chars.
uint32_t hash(const char* name);
// True for names that begin with "META-INF/", case-insensitively.
bool isMetaName(const char* name);
// Keeps a copy of name in metaNames, doubling the slots when full.
void addMetaName(ZipArchive* archive, const char* name);
// Keeps comment as the comment of entry index.
void addEntryComment(ZipArchive* archive, int32_t index, std::string comment);
// Builds the entry record of one cell from its LOC header, or null with message set.
ZipEntry* readLOC(ZipArchive* archive, const ZipCell& cell);
// Only the name that readLOC would give the entry, read into buffer (kept by the caller
// across calls); 1, or 0 with message set.
int readLOCName(ZipArchive* archive, const ZipCell& cell, std::vector<uint8_t>& buffer,
                std::string* name);
// Receives an entry's content in order. Content may be handed over whole (Put), produced
// in place in memory the sink lends (Room, then Produced), or named as a range of the
// archive file that the sink copies itself (Copy).
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // False when the bytes could not be kept.
  virtual bool Put(const uint8_t* data, std::size_t count) = 0;
  // Room for the next bytes of content, at least kMinRoom of them (*size says how many);
  // null when no more can be kept. The default lends a buffer of the sink's own.
  virtual uint8_t* Room(std::size_t* size);
  // The first count bytes of the last Room are the next content; false when they could not
  // be kept. The default hands them to Put.
  virtual bool Produced(std::size_t count);
  // The next count bytes of content are those at offset in the archive file fd, which the
  // caller has read already: crc is the CRC-32 of the content up to their end. The default
  // reads them again and hands them to Put.
  virtual bool Copy(int fd, int64_t offset, std::size_t count, uint32_t crc);

  static constexpr std::size_t kMinRoom = 4096;
  // Room lent by default, and the most a Copy reads at once.
  static constexpr std::size_t kBufferSize = 64 * 1024;

 private:
  std::unique_ptr<uint8_t[]> buffer_;
};

// An entry's output file: created 0700 (an older file truncated), written, and the CRC-32
// of what it was given kept for the check against the header. A copied range goes from
// file to file by the kernel where it can.
class FileSink : public EntrySink {
 public:
  // Opens path for a new entry's content, closing the file before; false when it can't.
  bool Open(const char* path);
  bool Put(const uint8_t* data, std::size_t count) override;
  bool Copy(int fd, int64_t offset, std::size_t count, uint32_t crc) override;
  // Closes the file; its content's CRC-32 stays readable.
  void Close() { fd_.reset(); }
  uint32_t crc() const { return crc_; }

 private:
  UniqueFd fd_;
  uint32_t crc_ = 0;
  bool kernelCopies_ = true;  // until the kernel refuses to copy between these files
};

// Inflates a deflated entry into sink; 1 on success, 0 with *messageOut set or null.
int inflateFully(ZipArchive* archive, ZipEntry* entry, EntrySink& sink, const char** messageOut);
// The entry's content (copied or inflated) into sink, exactly as many bytes as its header
// declares; 1, or 0. The caller checks the content's CRC-32 against entry->crc.
int readEntryData(ZipArchive* archive, ZipEntry* entry, EntrySink& sink);
// The CRC-32 of count more bytes, continuing from crc (0 for none yet).
uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, std::size_t count);
// The text of a content that does not match its header's CRC-32.
constexpr const char* kCrcMismatch = "invalid entry CRC";

}  // namespace launcher

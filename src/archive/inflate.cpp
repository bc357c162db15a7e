// Writing an entry's content to a file: stored data copied, deflated data inflated.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/zip_internal.h"

namespace launcher {
namespace {

// Compressed input and stored content are read in pieces of this size. Output goes
// straight into the room the sink lends (a block of the extraction queue): zlib copies
// each call's output into its window, a cost that large output rooms make small.
constexpr int32_t kReadChunk = 64 * 1024;
// A stored entry is handed to the sink in ranges of this size to copy: few copy calls,
// while the next range is still being checked.
constexpr int32_t kCopySpan = 1024 * 1024;
constexpr const char* kEndOfStream = "inflateFully: Unexpected end of stream";

// One raw-deflate stream, reset for each entry and ended at exit: setting a stream up
// allocates its state and window, which for a payload of many small entries costs about
// as much as inflating them.
class Inflater {
 public:
  Inflater() { std::memset(&stream_, 0, sizeof stream_); }
  ~Inflater() {
    if (live_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Window bits -15: raw deflate data without a zlib header, 32 KiB window.
  bool Start() {
    if (live_ && inflateReset(&stream_) == Z_OK) return true;
    if (live_) inflateEnd(&stream_);
    std::memset(&stream_, 0, sizeof stream_);
    live_ = inflateInit2_(&stream_, -MAX_WBITS, ZLIB_VERSION, sizeof stream_) == Z_OK;
    return live_;
  }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_;
  bool live_ = false;
};

Inflater& SharedInflater() {
  static Inflater inflater;
  return inflater;
}

}  // namespace

int inflateFully(ZipArchive* archive, ZipEntry* entry, EntrySink& sink, const char** messageOut) {
  *messageOut = nullptr;
  if (entry->compressedSize == 0) {
    *messageOut = "inflateFully: entry not compressed";
    return 0;
  }
  Inflater& inflater = SharedInflater();
  z_stream& zs = inflater.stream();
  if (!inflater.Start()) {
    *messageOut = zs.msg;
    return 0;
  }

  uint8_t input[kReadChunk];
  int64_t remaining = entry->compressedSize;
  int32_t position = 0;
  int64_t produced = 0;
  zs.avail_in = 0;
  for (;;) {
    if (zs.avail_in == 0 && remaining > 0) {
      int32_t n = zipRead(archive, entry, position, input,
                          static_cast<int32_t>(std::min<int64_t>(remaining, kReadChunk)));
      if (n <= 0) {
        if (n == 0) *messageOut = "inflateFully: Unexpected end of file";
        return 0;
      }
      position += n;
      remaining -= n;
      zs.next_in = input;
      zs.avail_in = static_cast<uInt>(n);
    }
    std::size_t room = 0;
    uint8_t* output = sink.Room(&room);
    if (!output) return 0;
    room = std::min<std::size_t>(room, UINT32_MAX);
    zs.next_out = output;
    zs.avail_out = static_cast<uInt>(room);
    uInt inputBefore = zs.avail_in;
    int r = inflate(&zs, Z_SYNC_FLUSH);
    std::size_t got = room - zs.avail_out;
    if (r != Z_OK && r != Z_BUF_ERROR && r != Z_STREAM_END) {
      *messageOut = zs.msg;
      return 0;
    }
    // A header that understates the size must not fill the disk that the free-space
    // check measured: stop before handing on anything past the declared size.
    if (produced + static_cast<int64_t>(got) > entry->size) {
      *messageOut = kEndOfStream;
      return 0;
    }
    // Compressed bytes left over after the stream's end are refused wherever they lie,
    // read or not, so that the verdict does not depend on the size of the reads.
    if (r == Z_STREAM_END && (remaining != 0 || zs.avail_in != 0 ||
                              produced + static_cast<int64_t>(got) != entry->size)) {
      *messageOut = kEndOfStream;
      return 0;
    }
    if (got > 0 && !sink.Produced(got)) return 0;
    produced += static_cast<int64_t>(got);
    if (r == Z_STREAM_END) return 1;
    if (got == 0 && zs.avail_in == inputBefore) {
      // zlib moved neither input nor output although both had room: corrupt data, and
      // retrying would never end. With every compressed byte gone in and the stream's end
      // never reported, the data is truncated.
      if (zs.avail_in > 0 || remaining <= 0) {
        *messageOut = kEndOfStream;
        return 0;
      }
    }
  }
}

int readEntryData(ZipArchive* archive, ZipEntry* entry, EntrySink& sink) {
  if (entry->compressedSize == 0) {
    // A negative size comes only from a damaged header; it must not pass as empty.
    if (entry->size < 0) return 0;
    // Stored content is read here only for its CRC-32; the sink copies it from the archive
    // itself, by the kernel where it can, so it never passes through this process twice.
    uint8_t buffer[kReadChunk];
    int32_t position = 0;
    int32_t spanStart = 0;
    int32_t remaining = entry->size;
    uint32_t crc = 0;
    while (remaining > 0) {
      int32_t n = zipRead(archive, entry, position, buffer, std::min(remaining, kReadChunk));
      if (n <= 0) return 0;
      crc = UpdateCrc(crc, buffer, static_cast<std::size_t>(n));
      position += n;
      remaining -= n;
      if (position - spanStart >= kCopySpan || remaining == 0) {
        if (!sink.Copy(archive->fd.get(), entry->dataOffset + spanStart,
                       static_cast<std::size_t>(position - spanStart), crc)) {
          return 0;
        }
        spanStart = position;
      }
    }
  } else {
    const char* reason = nullptr;
    if (!inflateFully(archive, entry, sink, &reason)) return 0;
  }
  return 1;
}

int zipReadEntry(ZipArchive* archive, ZipEntry* entry, const char* path) {
  FileSink sink;
  if (!sink.Open(path)) return 0;  // "zipReadEntry: cannot open output file"
  if (!readEntryData(archive, entry, sink)) return 0;
  // A flipped bit in a downloaded installer must not install silently.
  if (sink.crc() != entry->crc) {
    archive->message = kCrcMismatch;
    return 0;
  }
  return 1;
}

}  // namespace launcher

// Writing an entry's content to a file: stored data copied, deflated data inflated.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/zip_internal.h"
#include "host/process.h"

namespace launcher {
namespace {

constexpr int32_t kInputChunk = 4096;
constexpr int32_t kOutputChunk = 16384;
constexpr int32_t kCopyChunk = 16384;
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

bool FileSink::Open(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
  } while (fd < 0 && errno == EINTR);
  fd_.reset(fd);
  crc_ = 0;
  return fd_.valid();
}

bool FileSink::Put(const uint8_t* data, size_t count) {
  crc_ = UpdateCrc(crc_, data, count);
  return WriteAll(fd_.get(), data, count) == 1;
}

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

  uint8_t input[kInputChunk];
  uint8_t output[kOutputChunk];
  int64_t remaining = entry->compressedSize;
  int32_t position = 0;
  int64_t produced = 0;
  while (remaining > 0) {
    int32_t n = zipRead(archive, entry, position, input,
                        static_cast<int32_t>(std::min<int64_t>(remaining, kInputChunk)));
    if (n <= 0) {
      if (n == 0) *messageOut = "inflateFully: Unexpected end of file";
      return 0;
    }
    position += n;
    remaining -= n;
    zs.next_in = input;
    zs.avail_in = static_cast<uInt>(n);

    for (;;) {
      zs.next_out = output;
      zs.avail_out = kOutputChunk;
      uInt inputBefore = zs.avail_in;
      int r = inflate(&zs, Z_SYNC_FLUSH);
      size_t got = kOutputChunk - zs.avail_out;
      if (r != Z_OK && r != Z_BUF_ERROR && r != Z_STREAM_END) {
        *messageOut = zs.msg;
        return 0;
      }
      // A header that understates the size must not fill the disk that the free-space
      // check measured: stop before writing past the declared size.
      if (produced + static_cast<int64_t>(got) > entry->size) {
        *messageOut = kEndOfStream;
        return 0;
      }
      if (r == Z_STREAM_END && (remaining != 0 || produced + static_cast<int64_t>(got) !=
                                                      entry->size)) {
        *messageOut = kEndOfStream;
        return 0;
      }
      if (got > 0 && !sink.Put(output, got)) return 0;
      produced += static_cast<int64_t>(got);
      if (r == Z_STREAM_END) return 1;
      // zlib moved neither input nor output although both had room: the data is corrupt,
      // and retrying would never end.
      if (got == 0 && zs.avail_in == inputBefore && zs.avail_in > 0) {
        *messageOut = kEndOfStream;
        return 0;
      }
      if (zs.avail_in == 0 && zs.avail_out != 0) break;
    }
  }
  // Every compressed byte went in and the stream never reported its end: truncated data.
  *messageOut = kEndOfStream;
  return 0;
}

int readEntryData(ZipArchive* archive, ZipEntry* entry, EntrySink& sink) {
  if (entry->compressedSize == 0) {
    // A negative size comes only from a damaged header; it must not pass as empty.
    if (entry->size < 0) return 0;
    uint8_t buffer[kCopyChunk];
    int32_t position = 0;
    int32_t remaining = entry->size;
    while (remaining > 0) {
      int32_t n = zipRead(archive, entry, position, buffer, std::min(remaining, kCopyChunk));
      if (n <= 0 || !sink.Put(buffer, static_cast<size_t>(n))) return 0;
      position += n;
      remaining -= n;
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

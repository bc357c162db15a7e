// Writing an entry's content to a file: stored data copied, deflated data inflated.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/zip_internal.h"
#include "host/lasting.h"

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

// One raw-deflate stream, reset for each entry: setting a stream up allocates its state and
// window, which for a payload of many small entries costs about as much as inflating them.
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

// Never ended: the reader thread may still be inflating when the main thread exits.
Inflater& SharedInflater() {
  static Lasting<Inflater> inflater;
  return *inflater;
}

// How far the inflation of one entry has come.
struct Progress {
  int64_t unread;        // compressed bytes not yet read from the archive
  int32_t position = 0;  // where in the entry's data the next read starts
  int64_t produced = 0;  // bytes handed to the sink
};

// Reads the entry's next piece of compressed data into input and hands it to the stream.
bool ReadMore(ZipArchive* archive, ZipEntry* entry, z_stream& zs, uint8_t* input,
              Progress& progress, const char** messageOut) {
  int32_t n = zipRead(archive, entry, progress.position, input,
                      static_cast<int32_t>(std::min<int64_t>(progress.unread, kReadChunk)));
  if (n <= 0) {
    if (n == 0) *messageOut = "inflateFully: Unexpected end of file";
    return false;
  }
  progress.position += n;
  progress.unread -= n;
  zs.next_in = input;
  zs.avail_in = static_cast<uInt>(n);
  return true;
}

// Whether the result of one inflate call that wrote got bytes may stand; if not,
// *messageOut says why (null when zlib gave no reason).
bool StepStands(const z_stream& zs, int result, std::size_t got, uInt inputBefore,
                const Progress& progress, int64_t size, const char** messageOut) {
  if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END) {
    *messageOut = zs.msg;
    return false;
  }
  const bool ended = result == Z_STREAM_END;
  const int64_t total = progress.produced + static_cast<int64_t>(got);
  // A header that understates the size must not fill the disk that the free-space check
  // measured: nothing past the declared size is handed on.
  const bool overrun = total > size;
  // Compressed bytes left over after the stream's end are refused wherever they lie, read
  // or not, so that the verdict does not depend on the size of the reads.
  const bool badEnd = ended && (progress.unread != 0 || zs.avail_in != 0 || total != size);
  // zlib moved neither input nor output although both had room: corrupt data, and retrying
  // would never end. With every compressed byte gone in and the stream's end never
  // reported, the data is truncated.
  const bool stalled = !ended && got == 0 && zs.avail_in == inputBefore &&
                       (zs.avail_in > 0 || progress.unread <= 0);
  if (overrun || badEnd || stalled) {
    *messageOut = kEndOfStream;
    return false;
  }
  return true;
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
  Progress progress{.unread = entry->compressedSize};
  zs.avail_in = 0;
  for (;;) {
    if (zs.avail_in == 0 && progress.unread > 0 &&
        !ReadMore(archive, entry, zs, input, progress, messageOut)) {
      return 0;
    }
    std::size_t room = 0;
    uint8_t* output = sink.Room(&room);
    if (!output) return 0;
    room = std::min<std::size_t>(room, UINT32_MAX);
    zs.next_out = output;
    zs.avail_out = static_cast<uInt>(room);
    uInt inputBefore = zs.avail_in;
    int result = inflate(&zs, Z_SYNC_FLUSH);
    std::size_t got = room - zs.avail_out;
    if (!StepStands(zs, result, got, inputBefore, progress, entry->size, messageOut)) return 0;
    if (got > 0 && !sink.Produced(got)) return 0;
    progress.produced += static_cast<int64_t>(got);
    if (result == Z_STREAM_END) return 1;
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

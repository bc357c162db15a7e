// Extracted content on its way from the thread that reads and inflates entries to the one
// that writes files, in a few fixed blocks: both cores work at once and memory stays bounded
// whatever the payload holds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace launcher {

// What one record of a block stands for.
enum class RecordKind : uint8_t {
  kDirectory,  // a directory entry's name
  kFile,       // a file entry's name: the file is created
  kData,       // the next bytes of the file last named
  kClose,      // the file last named is complete; 4 bytes: the CRC-32 it must have
  kCopy,       // the next bytes of the file last named are in the archive: a CopyRange
};

// The next bytes of a file, to be copied from the archive file by whoever writes it.
struct CopyRange {
  int64_t offset;  // in the archive file
  uint32_t length;
  uint32_t crc;    // CRC-32 of the file's content up to the end of this range
};

// A run of records: {kind, last fragment (0/1), 4-byte length, bytes} each. A name or data
// longer than the room left is split into fragments across blocks; a record of up to
// kWholeRecord bytes never is.
struct Block {
  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr std::size_t kHeaderSize = 6;
  static constexpr std::size_t kWholeRecord = 16;
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kCapacity]};
  std::size_t used = 0;
  bool final = false;  // no block follows; status holds the producer's result
  int status = 0;
};
static_assert(sizeof(CopyRange) <= Block::kWholeRecord, "a copy range must never be split");

// Blocks go round a ring in order: filled by the producer, consumed, then free again. Without
// a second thread the queue runs in place: a full block is consumed by the producer's call.
class BlockQueue {
 public:
  // Consumes one full block; false stops production (the consumer failed).
  using Consumer = bool (*)(void* context, const Block& block);

  BlockQueue(std::size_t blockCount, Consumer inPlaceConsumer, void* context);
  BlockQueue(const BlockQueue&) = delete;
  BlockQueue& operator=(const BlockQueue&) = delete;

  // Producer: appends one record, split as needed; false once the consumer stopped.
  bool Append(RecordKind kind, const void* data, std::size_t length);
  // Producer: room for one record's bytes in the current block, at least minimum of them
  // (*size says how many), handing the block over first when it has less; null once the
  // consumer stopped. Content produced there directly saves a copy.
  uint8_t* Room(std::size_t minimum, std::size_t* size);
  // Producer: the first length bytes at the last Room become one whole record of kind.
  void Commit(RecordKind kind, std::size_t length);
  // Producer: hands over what is left, marked final with status.
  void Finish(int status);

  // Consumer, threaded mode: the next full block (waits for it).
  const Block& Take();
  // Consumer, threaded mode: gives the block last taken back.
  void Give();
  // Consumer: stops production; a producer waiting for room wakes and gives up.
  void Stop();

  // In-place mode: whether the consumer failed.
  bool Stopped() const { return stopped_; }

  // Selects threaded hand-over (Take/Give on another thread) instead of consuming in place.
  void SetThreaded(bool threaded) { threaded_ = threaded; }

 private:
  // Hands the current block over and, when moveOn, waits for a free one to fill next;
  // false once the consumer stopped.
  bool Hand(bool moveOn);

  std::unique_ptr<Block[]> blocks_;
  std::size_t count_;
  std::size_t filled_ = 0;    // blocks handed over so far; the current one is filled_ % count_
  std::size_t consumed_ = 0;  // blocks given back so far
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  bool threaded_ = false;
  Consumer inPlaceConsumer_;
  void* context_;
};

}  // namespace launcher

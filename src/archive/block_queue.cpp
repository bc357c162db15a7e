#include "archive/block_queue.h"

#include <algorithm>
#include <cstring>

namespace launcher {

BlockQueue::BlockQueue(std::size_t blockCount, Consumer inPlaceConsumer, void* context)
    : blocks_(new Block[blockCount]),
      count_(blockCount),
      inPlaceConsumer_(inPlaceConsumer),
      context_(context) {}

bool BlockQueue::Append(RecordKind kind, const void* data, std::size_t length) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  do {
    Block* block = &blocks_[filled_ % count_];
    std::size_t left = Block::kCapacity - block->used;
    // A header with no room for a byte after it would only make an empty fragment, and a
    // short record goes whole, so that its consumer can read it in one piece.
    if (left <= Block::kHeaderSize ||
        (length <= Block::kWholeRecord && left < Block::kHeaderSize + length)) {
      if (!Hand(true)) return false;
      continue;
    }
    std::size_t room = left - Block::kHeaderSize;
    std::size_t part = std::min(room, length);
    uint8_t* out = block->bytes.get() + block->used;
    uint32_t partLength = static_cast<uint32_t>(part);
    out[0] = static_cast<uint8_t>(kind);
    out[1] = part == length;
    std::memcpy(out + 2, &partLength, sizeof partLength);
    if (part > 0) std::memcpy(out + Block::kHeaderSize, bytes, part);
    block->used += Block::kHeaderSize + part;
    bytes += part;
    length -= part;
  } while (length > 0);
  return true;
}

uint8_t* BlockQueue::Room(std::size_t minimum, std::size_t* size) {
  for (;;) {
    Block& block = blocks_[filled_ % count_];
    std::size_t left = Block::kCapacity - block.used;
    if (left >= Block::kHeaderSize + minimum) {
      *size = left - Block::kHeaderSize;
      return block.bytes.get() + block.used + Block::kHeaderSize;
    }
    if (!Hand(true)) return nullptr;
  }
}

void BlockQueue::Commit(RecordKind kind, std::size_t length) {
  Block& block = blocks_[filled_ % count_];
  uint8_t* out = block.bytes.get() + block.used;
  uint32_t partLength = static_cast<uint32_t>(length);
  out[0] = static_cast<uint8_t>(kind);
  out[1] = 1;
  std::memcpy(out + 2, &partLength, sizeof partLength);
  block.used += Block::kHeaderSize + length;
}

void BlockQueue::Finish(int status) {
  Block& block = blocks_[filled_ % count_];
  block.final = true;
  block.status = status;
  Hand(false);
}

bool BlockQueue::Hand(bool moveOn) {
  if (!threaded_) {
    Block& block = blocks_[filled_ % count_];
    bool more = !stopped_ && inPlaceConsumer_(context_, block);
    if (!more) stopped_ = true;
    block.used = 0;
    block.final = false;
    return more;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  ++filled_;
  changed_.notify_all();
  if (!moveOn) return true;
  // The next block is free once the consumer has given back the one count_ blocks earlier.
  changed_.wait(lock, [this] { return stopped_ || filled_ - consumed_ < count_; });
  if (stopped_) return false;
  Block& next = blocks_[filled_ % count_];
  next.used = 0;
  next.final = false;
  return true;
}

const Block& BlockQueue::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return consumed_ < filled_; });
  return blocks_[consumed_ % count_];
}

void BlockQueue::Give() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++consumed_;
  changed_.notify_all();
}

void BlockQueue::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

}  // namespace launcher

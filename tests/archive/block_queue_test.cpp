// The hand-over of extracted content between the reading and the writing thread.
#include "archive/block_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace launcher::test {
namespace {

struct Record {
  RecordKind kind;
  std::string bytes;
  bool operator==(const Record&) const = default;
};

// Reassembles the records of the blocks it is given; fails on the block numbered failAt.
struct Collector {
  std::vector<Record> records;
  std::vector<int> fragments;  // of each record
  bool open = false;  // the last record was a fragment that more must follow
  int blocks = 0;
  int failAt = -1;
  bool finalSeen = false;
  int status = -1;

  bool Consume(const Block& block) {
    EXPECT_FALSE(finalSeen) << "a block after the final one";
    EXPECT_LE(block.used, Block::kCapacity);
    if (blocks++ == failAt) return false;
    for (std::size_t at = 0; at < block.used;) {
      const uint8_t* record = block.bytes.get() + at;
      uint32_t length;
      std::memcpy(&length, record + 2, sizeof length);
      auto kind = static_cast<RecordKind>(record[0]);
      std::string bytes(reinterpret_cast<const char*>(record + Block::kHeaderSize), length);
      if (open) {
        EXPECT_EQ(records.back().kind, kind);
        records.back().bytes += bytes;
        ++fragments.back();
      } else {
        records.push_back({kind, bytes});
        fragments.push_back(1);
      }
      open = record[1] == 0;
      if (!open && fragments.back() > 1 && records.back().bytes.size() <= Block::kWholeRecord) {
        ADD_FAILURE() << "a record of " << records.back().bytes.size() << " bytes was split";
      }
      at += Block::kHeaderSize + length;
    }
    if (block.final) {
      finalSeen = true;
      status = block.status;
    }
    return true;
  }
  static bool InPlace(void* self, const Block& block) {
    return static_cast<Collector*>(self)->Consume(block);
  }
};

// Records of every size around the block capacity, empty ones among them.
std::vector<Record> Sample() {
  std::vector<Record> records;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, Block::kCapacity - Block::kHeaderSize,
                           Block::kCapacity, Block::kCapacity * 3 + 7, std::size_t{65535}}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + size);
    records.push_back({RecordKind::kFile, std::string(size % 251, 'n')});
    records.push_back({RecordKind::kData, bytes});
    records.push_back({RecordKind::kClose, ""});
  }
  records.push_back({RecordKind::kDirectory, std::string(70000, 'd')});
  return records;
}

// Produces records into queue; returns false when the queue refused one.
bool Produce(BlockQueue& queue, const std::vector<Record>& records, int status) {
  for (const Record& r : records) {
    if (!queue.Append(r.kind, r.bytes.data(), r.bytes.size())) {
      queue.Finish(0);
      return false;
    }
  }
  queue.Finish(status);
  return true;
}

// Drains a threaded queue the way extraction does; stops after the block numbered failAt.
void Drain(BlockQueue& queue, Collector& collector) {
  for (;;) {
    const Block& block = queue.Take();
    bool kept = collector.Consume(block);
    bool final = block.final;
    queue.Give();
    if (!kept) {
      queue.Stop();
      return;
    }
    if (final) return;
  }
}

TEST(BlockQueueTest, RecordsArriveWholeAndInOrderSplitOrNot) {
  std::vector<Record> records = Sample();
  {
    Collector collector;
    BlockQueue queue(2, Collector::InPlace, &collector);
    EXPECT_TRUE(Produce(queue, records, 1));
    EXPECT_EQ(collector.records, records);
    EXPECT_EQ(collector.status, 1);
    EXPECT_FALSE(queue.Stopped());
  }
  for (std::size_t blocks : {1, 3}) {
    Collector collector;
    BlockQueue queue(blocks, Collector::InPlace, &collector);
    queue.SetThreaded(true);
    std::thread producer([&] { Produce(queue, records, 1); });
    Drain(queue, collector);
    producer.join();
    EXPECT_EQ(collector.records, records);
    EXPECT_EQ(collector.status, 1);
  }
}

// A file's closing record carries its CRC-32, which the writer reads in one piece: it must
// not be split where a block has room for its header and only some of its bytes.
TEST(BlockQueueTest, ShortRecordsAreNeverSplit) {
  for (std::size_t room = 0; room <= 5; ++room) {
    SCOPED_TRACE(room);
    std::vector<Record> records = {
        {RecordKind::kData, std::string(Block::kCapacity - 2 * Block::kHeaderSize - room, 'x')},
        {RecordKind::kClose, "crc!"}};
    Collector collector;
    BlockQueue queue(2, Collector::InPlace, &collector);
    EXPECT_TRUE(Produce(queue, records, 1));
    EXPECT_EQ(collector.records, records);
  }
}

// A writer that fails must stop a reader that is waiting for room, not leave it blocked.
TEST(BlockQueueTest, AConsumerFailureStopsTheProducer) {
  std::vector<Record> records = Sample();
  {
    Collector collector;
    collector.failAt = 1;
    BlockQueue queue(2, Collector::InPlace, &collector);
    EXPECT_FALSE(Produce(queue, records, 1));
    EXPECT_TRUE(queue.Stopped());
  }
  Collector collector;
  collector.failAt = 0;
  BlockQueue queue(2, Collector::InPlace, &collector);
  queue.SetThreaded(true);
  bool produced = true;
  std::thread producer([&] { produced = Produce(queue, records, 1); });
  Drain(queue, collector);
  producer.join();
  EXPECT_FALSE(produced);
}

}  // namespace
}  // namespace launcher::test

// The CRC-32 of extracted content against zlib's.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "archive/zip_internal.h"

namespace launcher::test {
namespace {

// Every length around the folding's block sizes, at every alignment, from a fresh start
// and continued from an earlier value, as an entry's chunks arrive.
TEST(UpdateCrcTest, AgreesWithZlibForEveryLengthAlignmentAndStart) {
  std::vector<uint8_t> bytes(70000);
  std::mt19937 generator(11);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t length = 0; length < 300; ++length) {
      const uint8_t* data = bytes.data() + offset;
      uint32_t expected = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(length)));
      ASSERT_EQ(UpdateCrc(0, data, length), expected) << offset << " " << length;
      uint32_t continued = static_cast<uint32_t>(crc32(expected, data + 1000, 77));
      ASSERT_EQ(UpdateCrc(expected, data + 1000, 77), continued);
    }
  }
  for (std::size_t length : {std::size_t{4096}, std::size_t{16384}, std::size_t{65536 + 13}}) {
    EXPECT_EQ(UpdateCrc(0xDEADBEEF, bytes.data() + 3, length),
              crc32(0xDEADBEEF, bytes.data() + 3, static_cast<uInt>(length)));
  }
  EXPECT_EQ(UpdateCrc(0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace launcher::test

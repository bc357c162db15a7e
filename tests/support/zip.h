// The tests' one zip writer: archives byte by byte, every header field open to being set
// wrong on purpose, with the positions of the headers for later patches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launcher::test {

struct ZipItem {
  std::string name{};
  std::string data{};                   // the entry's content
  bool deflate = false;
  std::string cenExtra{}, locExtra{}, comment{};
  uint16_t flags = 0;
  std::optional<uint16_t> method{};     // default 0 or 8
  std::optional<uint32_t> cenSize{};    // central uncompressed size; default data.size()
  std::optional<std::string> stored{};  // the bytes written as data, when not derived from data
  std::optional<std::string> locName{};
  std::optional<uint32_t> crc{};        // default that of data
};

struct BuiltZip {
  std::string bytes;
  std::vector<size_t> loc, cen;  // positions of each local and central header
  size_t cenStart = 0, end = 0;
};

void PutLE(std::string& out, size_t at, uint32_t value, int width);
std::string Deflate(const std::string& data, int level = -1);  // raw deflate, as zip holds it
uint32_t Crc(const std::string& data);
// prefix goes ahead of the archive (as the stub does); offsets count from the archive.
BuiltZip BuildZip(const std::vector<ZipItem>& entries, const std::string& prefix = "",
                  const std::string& comment = "");

}  // namespace launcher::test

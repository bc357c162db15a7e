#include "support/zip.h"

#include <zlib.h>

#include <initializer_list>
#include <utility>

namespace launcher::test {
namespace {

// Little-endian fields, each given with its width in bytes.
void Append(std::string& out, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (auto [value, width] : fields) {
    for (int i = 0; i < width; ++i) out += static_cast<char>(value >> (8 * i));
  }
}
uint32_t U32(size_t value) { return static_cast<uint32_t>(value); }

}  // namespace

void PutLE(std::string& out, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

std::string Deflate(const std::string& data, int level) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  int status = compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size(), level);
  return status == Z_OK ? out.substr(2, size - 6) : "";  // without zlib's header and checksum; empty: a test fails on it
}

uint32_t Crc(const std::string& data) {
  return U32(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

BuiltZip BuildZip(const std::vector<ZipItem>& entries, const std::string& prefix, const std::string& comment) {
  BuiltZip zip;
  std::string& out = zip.bytes = prefix;
  std::vector<std::string> payloads;
  for (const ZipItem& e : entries) {
    std::string payload = e.stored ? *e.stored : e.deflate ? Deflate(e.data) : e.data;
    const std::string& locName = e.locName ? *e.locName : e.name;
    zip.loc.push_back(out.size());
    Append(out, {{0x04034B50u, 4}, {20, 2}, {e.flags, 2}, {e.method.value_or(e.deflate ? 8 : 0), 2}, {0x21A34C5Bu, 4},
                 {e.crc.value_or(Crc(e.data)), 4}, {U32(payload.size()), 4}, {U32(e.data.size()), 4},
                 {U32(locName.size()), 2}, {U32(e.locExtra.size()), 2}});
    out += locName + e.locExtra + payload;
    payloads.push_back(std::move(payload));
  }
  zip.cenStart = out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipItem& e = entries[i];
    zip.cen.push_back(out.size());
    Append(out, {{0x02014B50u, 4}, {0x031E, 2}, {20, 2}, {e.flags, 2}, {e.method.value_or(e.deflate ? 8 : 0), 2},
                 {0x21A34C5Bu, 4}, {e.crc.value_or(Crc(e.data)), 4}, {U32(payloads[i].size()), 4},
                 {e.cenSize.value_or(U32(e.data.size())), 4}, {U32(e.name.size()), 2}, {U32(e.cenExtra.size()), 2},
                 {U32(e.comment.size()), 2}, {0, 2}, {0, 2}, {0, 4}, {U32(zip.loc[i] - prefix.size()), 4}});
    out += e.name + e.cenExtra + e.comment;
  }
  zip.end = out.size();
  Append(out, {{0x06054B50u, 4}, {0, 4}, {U32(entries.size()), 2}, {U32(entries.size()), 2},
               {U32(zip.end - zip.cenStart), 4}, {U32(zip.cenStart - prefix.size()), 4}, {U32(comment.size()), 2}});
  out += comment;
  return zip;
}

}  // namespace launcher::test

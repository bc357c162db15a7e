#include "support/zip.h"

#include <zlib.h>

#include <stdexcept>

namespace launcher::test {
namespace {

void Append(std::string& out, uint32_t value, int width) {
  out.append(static_cast<size_t>(width), '\0');
  PutLE(out, out.size() - static_cast<size_t>(width), value, width);
}

}  // namespace

void PutLE(std::string& out, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

std::string Deflate(const std::string& data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&zs, data.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&zs, Z_FINISH);
  deflateEnd(&zs);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(zs.total_out);
  return out;
}

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

BuiltZip BuildZip(const std::vector<ZipItem>& entries, const std::string& prefix,
                  const std::string& comment) {
  BuiltZip zip;
  std::string& out = zip.bytes;
  out = prefix;
  std::vector<std::string> payloads;
  for (const ZipItem& e : entries) {
    std::string payload = e.stored ? *e.stored : e.deflate ? Deflate(e.data) : e.data;
    const std::string& locName = e.locName ? *e.locName : e.name;
    zip.loc.push_back(out.size());
    for (uint32_t v : {0x04034B50u, 20u, uint32_t{e.flags}, uint32_t{e.method.value_or(e.deflate ? 8 : 0)}}) {
      Append(out, v, v > 0xFFFF ? 4 : 2);
    }
    Append(out, 0x21A34C5Bu, 4);
    Append(out, e.crc.value_or(Crc(e.data)), 4);
    Append(out, static_cast<uint32_t>(payload.size()), 4);
    Append(out, static_cast<uint32_t>(e.data.size()), 4);
    Append(out, static_cast<uint32_t>(locName.size()), 2);
    Append(out, static_cast<uint32_t>(e.locExtra.size()), 2);
    out += locName + e.locExtra + payload;
    payloads.push_back(std::move(payload));
  }
  zip.cenStart = out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipItem& e = entries[i];
    zip.cen.push_back(out.size());
    Append(out, 0x02014B50u, 4);
    for (uint32_t v : {0x031Eu, 20u, uint32_t{e.flags}, uint32_t{e.method.value_or(e.deflate ? 8 : 0)}}) {
      Append(out, v, 2);
    }
    Append(out, 0x21A34C5Bu, 4);
    Append(out, e.crc.value_or(Crc(e.data)), 4);
    Append(out, e.cenCompressedSize.value_or(static_cast<uint32_t>(payloads[i].size())), 4);
    Append(out, e.cenSize.value_or(static_cast<uint32_t>(e.data.size())), 4);
    for (size_t length : {e.name.size(), e.cenExtra.size(), e.comment.size(), size_t{0}, size_t{0}}) {
      Append(out, static_cast<uint32_t>(length), 2);
    }
    Append(out, 0, 4);
    Append(out, static_cast<uint32_t>(zip.loc[i] - prefix.size()), 4);
    out += e.name + e.cenExtra + e.comment;
  }
  zip.end = out.size();
  Append(out, 0x06054B50u, 4);
  Append(out, 0, 4);
  Append(out, static_cast<uint32_t>(entries.size()), 2);
  Append(out, static_cast<uint32_t>(entries.size()), 2);
  Append(out, static_cast<uint32_t>(zip.end - zip.cenStart), 4);
  Append(out, static_cast<uint32_t>(zip.cenStart - prefix.size()), 4);
  Append(out, static_cast<uint32_t>(comment.size()), 2);
  out += comment;
  return zip;
}

}  // namespace launcher::test

// Writes zip archives byte by byte for the reader's tests, with every header field open to
// being set wrong on purpose.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace launcher::test {

struct ZipItem {
  std::string name{};
  std::string data{};                       // the entry's content
  bool deflate = false;
  std::string cenExtra{};
  std::string locExtra{};
  std::string comment{};
  uint16_t flags = 0;
  std::optional<uint16_t> method{};         // CEN method; default 0 or 8
  std::optional<uint32_t> cenSize{};        // CEN uncompressed size; default data.size()
  std::optional<uint32_t> cenCompressedSize{};
  std::optional<std::string> stored{};      // bytes written as the entry's data
  std::optional<std::string> locName{};     // LOC name when it differs from the CEN one
  std::optional<uint32_t> crc{};            // CRC-32 in both headers; default that of data
};

struct BuiltZip {
  std::string bytes;
  std::vector<size_t> loc;   // position of each LOC header
  std::vector<size_t> cen;   // position of each CEN header
  size_t cenStart = 0;
  size_t end = 0;            // position of the END header
};

inline void PutLE16(std::string& out, size_t at, uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

inline void PutLE32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void AppendLE16(std::string& out, uint16_t v) {
  out.append(2, '\0');
  PutLE16(out, out.size() - 2, v);
}

inline void AppendLE32(std::string& out, uint32_t v) {
  out.append(4, '\0');
  PutLE32(out, out.size() - 4, v);
}

// Raw deflate data (no zlib header), as zip entries carry it.
inline std::string Deflate(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
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

inline uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// prefix goes ahead of the archive; stored offsets are relative to the archive's start.
inline BuiltZip BuildZip(const std::vector<ZipItem>& entries, const std::string& prefix = "",
                         const std::string& comment = "") {
  BuiltZip zip;
  zip.bytes = prefix;
  std::vector<std::string> payloads;
  for (const ZipItem& e : entries) {
    std::string payload = e.stored ? *e.stored : e.deflate ? Deflate(e.data) : e.data;
    const std::string& locName = e.locName ? *e.locName : e.name;
    zip.loc.push_back(zip.bytes.size());
    std::string& out = zip.bytes;
    AppendLE32(out, 0x04034B50);
    AppendLE16(out, 20);
    AppendLE16(out, e.flags);
    AppendLE16(out, e.method.value_or(e.deflate ? 8 : 0));
    AppendLE32(out, 0x21A34C5Bu);  // 2016-05-03 09:34:54
    AppendLE32(out, e.crc.value_or(Crc(e.data)));
    AppendLE32(out, static_cast<uint32_t>(payload.size()));
    AppendLE32(out, static_cast<uint32_t>(e.data.size()));
    AppendLE16(out, static_cast<uint16_t>(locName.size()));
    AppendLE16(out, static_cast<uint16_t>(e.locExtra.size()));
    out += locName + e.locExtra + payload;
    payloads.push_back(std::move(payload));
  }
  zip.cenStart = zip.bytes.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipItem& e = entries[i];
    zip.cen.push_back(zip.bytes.size());
    std::string& out = zip.bytes;
    AppendLE32(out, 0x02014B50);
    AppendLE16(out, 0x031E);
    AppendLE16(out, 20);
    AppendLE16(out, e.flags);
    AppendLE16(out, e.method.value_or(e.deflate ? 8 : 0));
    AppendLE32(out, 0x21A34C5Bu);
    AppendLE32(out, e.crc.value_or(Crc(e.data)));
    AppendLE32(out, e.cenCompressedSize.value_or(static_cast<uint32_t>(payloads[i].size())));
    AppendLE32(out, e.cenSize.value_or(static_cast<uint32_t>(e.data.size())));
    AppendLE16(out, static_cast<uint16_t>(e.name.size()));
    AppendLE16(out, static_cast<uint16_t>(e.cenExtra.size()));
    AppendLE16(out, static_cast<uint16_t>(e.comment.size()));
    AppendLE16(out, 0);
    AppendLE16(out, 0);
    AppendLE32(out, 0);
    AppendLE32(out, static_cast<uint32_t>(zip.loc[i] - prefix.size()));
    out += e.name + e.cenExtra + e.comment;
  }
  zip.end = zip.bytes.size();
  std::string& out = zip.bytes;
  AppendLE32(out, 0x06054B50);
  AppendLE16(out, 0);
  AppendLE16(out, 0);
  AppendLE16(out, static_cast<uint16_t>(entries.size()));
  AppendLE16(out, static_cast<uint16_t>(entries.size()));
  AppendLE32(out, static_cast<uint32_t>(zip.end - zip.cenStart));
  AppendLE32(out, static_cast<uint32_t>(zip.cenStart - prefix.size()));
  AppendLE16(out, static_cast<uint16_t>(comment.size()));
  out += comment;
  return zip;
}

// An END header alone: no entries, an empty directory at the END's own position.
inline std::string EndOnly(const std::string& prefix, const std::string& comment = "") {
  return BuildZip({}, prefix, comment).bytes;
}

}  // namespace launcher::test

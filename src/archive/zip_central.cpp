// The END record search and the index of the central directory.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/zip_internal.h"

namespace launcher {
namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCenSignature = 0x02014B50;
// The END header must lie in this many bytes at the end of the file.
constexpr int64_t kEndSearchSpan = 65535;
constexpr size_t kInitialNameCapacity = 513;

// The central directory read front to back through a bounded buffer. One read of the
// whole directory, as the format's usual readers do, would hold all of it beside its index
// (bench/README.md has the figures); the launcher keeps its peak memory small instead.
class CenWindow {
 public:
  CenWindow(int fd, int64_t cenSize) : fd_(fd), cenSize_(cenSize), buffer_(kCenWindowSize) {}

  // Makes directory bytes [offset, offset + count) available, offset never moving back and
  // the range lying inside the directory; false when a read fails.
  bool Hold(int64_t offset, size_t count) {
    if (offset + static_cast<int64_t>(count) <= start_ + static_cast<int64_t>(held_)) {
      return true;
    }
    size_t kept = static_cast<size_t>(start_ + static_cast<int64_t>(held_) - offset);
    std::memmove(buffer_.data(), buffer_.data() + (offset - start_), kept);
    start_ = offset;
    held_ = kept;
    // A header with the longest name, extra field and comment (46 + 3 × 65,535 bytes)
    // doesn't fit the usual size: the buffer grows to hold it.
    if (count > buffer_.size()) buffer_.resize(count);
    int64_t unread = cenSize_ - (start_ + static_cast<int64_t>(held_));
    size_t wanted = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(buffer_.size() - held_), unread));
    if (readFully(fd_, buffer_.data() + held_, static_cast<int64_t>(wanted)) != 0) return false;
    held_ += wanted;
    return true;
  }

  // The bytes of the range that Hold made available, from offset on.
  ByteView View(int64_t offset) const {
    size_t at = static_cast<size_t>(offset - start_);
    return ByteView(buffer_.data() + at, held_ - at);
  }
  const uint8_t* Bytes(int64_t offset) const { return buffer_.data() + (offset - start_); }

 private:
  int fd_;
  int64_t cenSize_;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;  // directory offset of buffer_[0]
  size_t held_ = 0;    // bytes of the directory in buffer_
};

// Shared failure exit of readCEN once the index arrays exist: one bad entry refuses the
// whole archive, so no partial index may remain.
int64_t DropIndex(ZipArchive* archive, const char* text) {
  if (text) archive->message = text;
  archive->cells = {};
  archive->chainHeads = {};
  return -1;
}

// Where the central directory lies, from the END header.
struct DirectoryPlace {
  int64_t position;      // absolute position of its first header
  int64_t size;
  int64_t prefixLength;  // bytes in front of the archive, such as the launcher itself
};

// Checks the END header's size and offset of the directory against where the END header
// lies; the failure text, or null.
const char* PlaceDirectory(const ByteView& end, int64_t endPos, DirectoryPlace* place) {
  place->size = end.S32(12);
  if (place->size < 0 || place->size > endPos) {
    return "invalid END header (bad central directory size)";
  }
  // The directory is taken to end where the END header begins; the difference from its
  // stored offset is the length of whatever precedes the archive.
  place->position = endPos - place->size;
  int64_t cenOffset = end.S32(16);
  if (cenOffset < 0 || cenOffset > place->position) {
    return "invalid END header (bad central directory offset)";
  }
  place->prefixLength = place->position - cenOffset;
  return nullptr;
}

// The faults of a header's fixed part that refuse the archive; the failure text, or null.
const char* CheckCenHeader(const ByteView& dir) {
  if (dir.U32(0) != kCenSignature) return "invalid CEN header (bad signature)";
  if (dir.U16(8) & 1) return "invalid CEN header (encrypted entry)";
  uint16_t method = dir.U16(10);
  if (method != 0 && method != 8) return "invalid CEN header (bad compression method)";
  return nullptr;
}

// Copies a name of length bytes into name, NUL-terminated; name grows by doubling.
void CopyName(std::vector<char>& name, const uint8_t* bytes, uint16_t length) {
  if (size_t{length} + 1 > name.size()) {
    size_t capacity = name.size();
    while (capacity < size_t{length} + 1) capacity *= 2;
    name = std::vector<char>(capacity);
  }
  std::memcpy(name.data(), bytes, length);
  name[length] = '\0';
}

// Indexes the header at directory offset *cursor as entry index and moves the cursor past
// it. False when it is refused, with the reason in *failure (null when a read failed).
bool IndexHeader(ZipArchive* archive, CenWindow& window, const DirectoryPlace& place,
                 int32_t index, int64_t* cursor, std::vector<char>& name,
                 const char** failure) {
  static const char kBadSize[] = "invalid CEN header (bad header size)";
  *failure = nullptr;
  if (*cursor + kCenHeaderSize > place.size) *failure = kBadSize;
  if (*failure || !window.Hold(*cursor, kCenHeaderSize)) return false;
  const ByteView dir = window.View(*cursor);
  *failure = CheckCenHeader(dir);
  if (*failure) return false;
  uint16_t nameLen = dir.U16(28);
  uint16_t extraLen = dir.U16(30);
  uint16_t commentLen = dir.U16(32);
  size_t headerSize = size_t{kCenHeaderSize} + nameLen + extraLen + commentLen;
  if (*cursor + static_cast<int64_t>(headerSize) > place.size) {
    *failure = kBadSize;
    return false;
  }

  ZipCell& cell = archive->cells[static_cast<size_t>(index)];
  cell.size = dir.S32(24);
  cell.compressedSize = dir.U16(10) == 0 ? 0 : dir.S32(20);
  cell.crc = dir.U32(16);
  cell.locOffset = int64_t{dir.U32(42)} + place.prefixLength;
  cell.nameExtraLen = static_cast<uint32_t>(nameLen) + extraLen;
  cell.cenExtraLen = extraLen;
  cell.cenPosition = place.position + *cursor;

  // The fixed part was read from the buffer above; the whole header may move it.
  if (!window.Hold(*cursor, headerSize)) return false;
  const uint8_t* nameBytes = window.Bytes(*cursor) + kCenHeaderSize;
  CopyName(name, nameBytes, nameLen);
  cell.nameHash = hash(name.data());
  if (isMetaName(name.data())) addMetaName(archive, name.data());
  if (commentLen > 0) {
    const char* comment = reinterpret_cast<const char*>(nameBytes + nameLen + extraLen);
    addEntryComment(archive, index, std::string(comment, commentLen));
  }
  uint32_t chain = cell.nameHash % static_cast<uint32_t>(archive->headCount);
  cell.nextInChain = archive->chainHeads[chain];
  archive->chainHeads[chain] = static_cast<uint16_t>(index);
  *cursor += static_cast<int64_t>(headerSize);
  return true;
}

}  // namespace

uint32_t hash(const char* name) {
  uint32_t h = 0;
  for (const char* p = name; *p; ++p) {
    h = 31 * h + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
  }
  return h;
}

bool isMetaName(const char* name) {
  static const char kMeta[] = "META-INF/";
  for (size_t i = 0; i < sizeof kMeta - 1; ++i) {
    char c = name[i];
    if (c == '\0') return false;
    // ASCII upper-casing: the process locale must not change which names match.
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kMeta[i]) return false;
  }
  return true;
}

void addMetaName(ZipArchive* archive, const char* name) {
  auto& names = archive->metaNames;
  if (names.empty()) names.resize(2);
  auto slot = std::find(names.begin(), names.end(), std::nullopt);
  if (slot == names.end()) {
    size_t used = names.size();
    names.resize(used * 2);
    slot = names.begin() + static_cast<std::ptrdiff_t>(used);
  }
  *slot = std::string(name);
  archive->metaSlots = static_cast<int32_t>(names.size());
}

void addEntryComment(ZipArchive* archive, int32_t index, std::string comment) {
  if (archive->entryComments.empty()) {
    archive->entryComments.resize(static_cast<size_t>(archive->entryCount));
  }
  archive->entryComments[static_cast<size_t>(index)] = std::move(comment);
}

int64_t findEND(ZipArchive* archive, uint8_t* endBuffer) {
  int fd = archive->fd.get();
  off_t length = ::lseek(fd, 0, SEEK_END);
  if (length < 0) return -1;
  const int64_t len = length;
  int64_t pos = len;

  // Each new block goes in front of the bytes read before it, so a header that straddles
  // two blocks is still seen whole.
  uint8_t window[2 * kEndHeaderSize] = {};
  const ByteView view(window, sizeof window);
  while (len - pos < kEndSearchSpan) {
    // Clamped at the file's start so a header in its first bytes is still reached.
    int64_t count = std::min<int64_t>({kEndSearchSpan - (len - pos), kEndHeaderSize, pos});
    if (count == 0) break;
    std::memmove(window + count, window, sizeof window - static_cast<size_t>(count));
    pos -= count;
    if (::lseek(fd, pos, SEEK_SET) < 0 || readFully(fd, window, count) != 0) return -1;

    for (int64_t b = 0; b < count; ++b) {
      size_t at = static_cast<size_t>(b);
      if (view.U32(at) != kEndSignature) continue;
      int64_t endPos = pos + b;
      uint16_t commentLen = view.U16(at + 20);
      if (endPos + kEndHeaderSize + commentLen != len) continue;

      std::memcpy(endBuffer, window + at, kEndHeaderSize);
      if (::lseek(fd, endPos + kEndHeaderSize, SEEK_SET) < 0) return -1;
      if (commentLen > 0) {
        std::string comment(commentLen, '\0');
        if (readFully(fd, comment.data(), commentLen) != 0) {
          archive->comment.reset();
          return -1;
        }
        archive->comment = std::move(comment);
      }
      return endPos;
    }
  }
  return 0;
}

int64_t readCEN(ZipArchive* archive) {
  archive->message = nullptr;
  uint8_t endBuffer[kEndHeaderSize];
  int64_t endPos = findEND(archive, endBuffer);
  if (endPos <= 0) return endPos;
  const ByteView end(endBuffer, sizeof endBuffer);
  DirectoryPlace place{};
  archive->message = PlaceDirectory(end, endPos, &place);
  if (archive->message) return -1;

  int32_t entryCount = end.U16(10);
  archive->entryCount = entryCount;
  if (int64_t{entryCount} * kCenHeaderSize > place.size) {
    archive->message = "invalid END header (bad entry count)";
    return -1;
  }
  if (entryCount > kMaxEntries) {
    archive->message = "too many entries in ZIP file";
    return -1;
  }

  // Read front to back from here: the directory lies between its computed position and
  // the END header, whatever its stored offset claims.
  if (::lseek(archive->fd.get(), place.position, SEEK_SET) < 0) return -1;
  CenWindow window(archive->fd.get(), place.size);
  archive->cells.assign(static_cast<size_t>(entryCount), ZipCell{});
  archive->headCount = std::max(entryCount / 2, 1);
  archive->chainHeads.assign(static_cast<size_t>(archive->headCount), kEndOfChain);
  std::vector<char> name(kInitialNameCapacity);
  int64_t cursor = 0;
  for (int32_t i = 0; i < entryCount; ++i) {
    const char* failure = nullptr;
    if (!IndexHeader(archive, window, place, i, &cursor, name, &failure)) {
      return DropIndex(archive, failure);
    }
  }
  return place.position;
}

}  // namespace launcher

// Extraction of an open archive's entries into a directory. One thread reads and inflates
// the entries while the calling thread creates and writes the files: for a payload of many
// small files, creating them costs about as much as everything else together.
#include "archive/extract.h"

#include <pthread.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/block_queue.h"
#include "archive/file_writer.h"
#include "archive/zip_internal.h"
#include "host/locale.h"
#include "host/process.h"
#include "host/tempdir.h"

namespace launcher {
namespace {

// Four blocks let the reader run a little ahead of the writer within a bounded footprint.
constexpr std::size_t kBlockCount = 4;
// The reader needs about 140 KiB of stack for its buffers; sanitizer builds need more.
constexpr std::size_t kReaderStackSize = 1024 * 1024;

// A damaged or hostile payload must not write outside the target directory. Every '/'
// byte is checked here, multibyte or not, because the kernel splits paths on each of them.
bool EscapesTarget(const char* name) {
  if (name[0] == '/') return true;
  for (const char* part = name;;) {
    const char* slash = std::strchr(part, '/');
    std::size_t length = slash ? static_cast<std::size_t>(slash - part) : std::strlen(part);
    if (length == 2 && part[0] == '.' && part[1] == '.') return true;
    if (!slash) return false;
    part = slash + 1;
  }
}

// The working directory is removed only down to kMaxRemovalDepth levels, so a deeper
// entry would outlive the run.
bool TooDeep(const char* name) {
  int separators = 0;
  for (const char* p = name; *p; ++p) separators += *p == '/';
  return separators >= kMaxRemovalDepth;
}

bool HasPrefix(const char* name, const char* prefix) {
  return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// An entry's content, appended to the queue as it is read: inflated straight into the
// queue's blocks, and stored ranges named for the writer to copy from the archive itself.
class QueueSink : public EntrySink {
 public:
  explicit QueueSink(BlockQueue& queue) : queue_(queue) {}
  bool Put(const uint8_t* data, std::size_t count) override {
    return queue_.Append(RecordKind::kData, data, count);
  }
  uint8_t* Room(std::size_t* size) override { return queue_.Room(kMinRoom, size); }
  bool Produced(std::size_t count) override {
    queue_.Commit(RecordKind::kData, count);
    return true;
  }
  bool Copy(int, int64_t offset, std::size_t count, uint32_t crc) override {
    CopyRange range{offset, static_cast<uint32_t>(count), crc};
    return queue_.Append(RecordKind::kCopy, &range, sizeof range);
  }

 private:
  BlockQueue& queue_;
};

struct Walk {
  ZipArchive* archive;
  const char* included;  // null: every name
  const char* excluded;  // null: none
  BlockQueue* queue;
};

// The reading side: every entry whose name begins with included (or included is null) and
// not with excluded goes to the queue as records; 1 when every entry was handled.
int ReadEntries(const Walk& walk) {
  ZipArchive* archive = walk.archive;
  BlockQueue& queue = *walk.queue;
  std::vector<uint8_t> headerBuffer;
  std::string locName;
  for (int32_t index = 0;; ++index) {
    // Picking a few entries out of many (the payload runtime) needs only their names: the
    // whole record, with its extra field, is built for the entries that are taken. An
    // entry whose name can't be read goes the full way and fails there.
    if (walk.included && index < archive->entryCount &&
        static_cast<std::size_t>(index) < archive->cells.size() &&
        readLOCName(archive, archive->cells[static_cast<std::size_t>(index)], headerBuffer,
                    &locName) &&
        !HasPrefix(locName.c_str(), walk.included)) {
      continue;
    }
    ZipEntry* entry = zipGetNextEntry(archive, index);
    // Before the last index, no entry means a local header that can't be read: damage that
    // must not pass for the end of the directory, with the entries after it never written.
    if (!entry) return index >= archive->entryCount ? 1 : 0;
    const char* name = entry->name.c_str();
    if ((walk.included && !HasPrefix(name, walk.included)) ||
        (walk.excluded && HasPrefix(name, walk.excluded))) {
      zipFreeEntry(archive, entry);
      continue;
    }
    if (EscapesTarget(name) || TooDeep(name)) {
      zipFreeEntry(archive, entry);
      return 0;
    }
    const char* lastSeparator = _strrchr(name, '/');
    bool isFile = !lastSeparator || lastSeparator[1] != '\0';  // "dir/" is a directory entry
    bool handled;
    if (isFile) {
      // The writer checks the content against the header's CRC-32: the checksum then
      // costs the core that waits on the file system, not the one that inflates.
      QueueSink sink(queue);
      uint32_t crc = entry->crc;
      handled = queue.Append(RecordKind::kFile, name, entry->name.size()) &&
                readEntryData(archive, entry, sink) &&
                queue.Append(RecordKind::kClose, &crc, sizeof crc);
    } else {
      // A directory entry has no content, so its header must carry the CRC of nothing.
      handled = entry->crc == 0 && queue.Append(RecordKind::kDirectory, name, entry->name.size());
    }
    zipFreeEntry(archive, entry);
    if (!handled) return 0;
  }
}

void* ReaderThread(void* argument) {
  const Walk& walk = *static_cast<const Walk*>(argument);
  walk.queue->Finish(ReadEntries(walk));
  return nullptr;
}

bool ConsumeInPlace(void* writer, const Block& block) {
  return static_cast<FileWriter*>(writer)->Consume(block);
}

// Starts the reader with the process's signals blocked: an interruption then stops the
// thread that creates files, instead of removing the working directory beside it.
bool StartReader(pthread_t* thread, Walk* walk) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setstacksize(&attributes, kReaderStackSize);
  int started;
  {
    SignalMask blocked(Held::kAllButFaults);
    started = pthread_create(thread, &attributes, ReaderThread, walk);
  }
  pthread_attr_destroy(&attributes);
  return started == 0;
}

int Extract(ZipArchive* archive, const char* targetDirectory, const char* included,
            const char* excluded) {
  if (!archive || !targetDirectory) return 0;
  FileWriter writer(targetDirectory, archive->fd.get());
  BlockQueue queue(kBlockCount, ConsumeInPlace, &writer);
  Walk walk{archive, included, excluded, &queue};

  queue.SetThreaded(true);
  pthread_t reader;
  int status = 0;
  bool written = true;
  if (StartReader(&reader, &walk)) {
    for (;;) {
      const Block& block = queue.Take();
      written = writer.Consume(block);
      bool final = block.final;
      status = block.status;
      queue.Give();
      if (!written) {
        queue.Stop();
        break;
      }
      if (final) break;
    }
    pthread_join(reader, nullptr);
  } else {
    // No second thread to be had: the same work, one block at a time, on this one.
    queue.SetThreaded(false);
    status = ReadEntries(walk);
    queue.Finish(status);
    written = !queue.Stopped();
  }
  if (writer.crcMismatch()) archive->message = kCrcMismatch;
  return written && status ? 1 : 0;
}

}  // namespace

int UnzipFiles(ZipArchive* archive, const char* targetDirectory, const char* namePrefix) {
  return Extract(archive, targetDirectory, namePrefix, nullptr);
}

int UnzipFilesExcept(ZipArchive* archive, const char* targetDirectory,
                     const char* excludedPrefix) {
  return Extract(archive, targetDirectory, nullptr, excludedPrefix);
}

}  // namespace launcher

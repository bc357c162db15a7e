#include "zip_pack.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "host/process.h"
#include "host/unique_fd.h"
#include "progress.h"

namespace launcher::packer {
namespace {

// Last second an MS-DOS date (years 1980 to 2107) can express, in UTC.
constexpr int64_t kLastZipTime = 4354819198;
constexpr size_t kBlockBytes = 64 * 1024;

struct ArchiveFree {
  void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};

ssize_t ReadRetry(int fd, void* buffer, size_t count) {
  ssize_t got;
  do {
    got = read(fd, buffer, count);
  } while (got < 0 && errno == EINTR);
  return got;
}

// The temporary output: removed unless Commit renamed it into place.
class PendingFile {
 public:
  explicit PendingFile(const std::string& target) : target_(target) {
    path_ = target + ".XXXXXX";
    fd_.reset(mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_.valid()) path_.clear();
  }
  ~PendingFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_.get(); }
  bool Commit(std::string* error) {
    if (fchmod(fd_.get(), 0755) != 0 || close(fd_.release()) != 0 ||
        rename(path_.c_str(), target_.c_str()) != 0) {
      *error = target_ + ": " + std::strerror(errno);
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  UniqueFd fd_;
};

// Where libarchive's output goes: counts bytes so the 2 GiB limit stops the write early.
struct Sink {
  int fd = -1;
  int64_t written = 0;  // stub included
  bool overLimit = false;
  int writeErrno = 0;
};

la_ssize_t SinkWrite(archive*, void* clientData, const void* buffer, size_t length) {
  Sink* sink = static_cast<Sink*>(clientData);
  if (sink->written + static_cast<int64_t>(length) > kMaxArchiveBytes) {
    sink->overLimit = true;
    return -1;
  }
  if (WriteAll(sink->fd, buffer, length) != 1) {
    sink->writeErrno = errno;
    return -1;
  }
  sink->written += static_cast<int64_t>(length);
  return static_cast<la_ssize_t>(length);
}

bool CopyStub(const std::string& stubPath, Sink* sink, std::string* error) {
  UniqueFd stub(open(stubPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (!stub.valid() || fstat(stub.get(), &info) != 0) {
    *error = "launcher stub " + stubPath + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "launcher stub " + stubPath + ": not a regular file";
    return false;
  }
  std::vector<char> buffer(kBlockBytes);
  for (;;) {
    ssize_t got = ReadRetry(stub.get(), buffer.data(), buffer.size());
    if (got < 0) {
      *error = "launcher stub " + stubPath + ": " + std::strerror(errno);
      return false;
    }
    if (got == 0) return true;
    if (SinkWrite(nullptr, sink, buffer.data(), static_cast<size_t>(got)) < 0) {
      *error = sink->overLimit ? "launcher stub " + stubPath + " is over 2 GiB"
                               : "writing the installer: " + std::string(std::strerror(errno));
      return false;
    }
  }
}

bool StreamFile(archive* zip, const PackEntry& entry, std::vector<char>* buffer,
                Progress& progress, std::string* error) {
  UniqueFd file(open(entry.source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info;
  if (!file.valid() || fstat(file.get(), &info) != 0) {
    *error = entry.source + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode) || info.st_size != entry.size) {
    *error = entry.source + ": changed while the installer was being packed";
    return false;
  }
  int64_t total = 0;
  for (;;) {
    ssize_t got = ReadRetry(file.get(), buffer->data(), buffer->size());
    if (got < 0) {
      *error = entry.source + ": " + std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    total += got;
    if (total > entry.size) break;
    const char* data = buffer->data();
    size_t left = static_cast<size_t>(got);
    while (left > 0) {
      la_ssize_t put = archive_write_data(zip, data, left);
      if (put <= 0) return false;  // the caller reports the archive's error
      data += put;
      left -= static_cast<size_t>(put);
    }
    progress.AddBytes(got);
  }
  if (total != entry.size) {
    *error = entry.source + ": changed while the installer was being packed";
    return false;
  }
  return true;
}

bool Fail(archive* zip, const Sink& sink, std::string* error) {
  if (sink.overLimit) {
    *error = "the installer would exceed " + std::to_string(kMaxArchiveBytes) +
             " bytes (2 GiB), the most a zip without ZIP64 read by the launcher can address; "
             "make the payload smaller";
  } else if (sink.writeErrno != 0) {
    *error = "writing the installer: " + std::string(std::strerror(sink.writeErrno));
  } else if (error->empty()) {
    const char* text = archive_error_string(zip);
    *error = "writing the zip: " + std::string(text ? text : "unknown error");
  }
  return false;
}

}  // namespace

bool EntryTimestamp(const char* sourceDateEpoch, int64_t* seconds, std::string* error) {
  *seconds = kDefaultTimestamp;
  if (sourceDateEpoch == nullptr) return true;
  const char* p = sourceDateEpoch;
  int64_t value = 0;
  if (*p == '\0') p = "x";
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      *error = "SOURCE_DATE_EPOCH=" + std::string(sourceDateEpoch) +
               " is not a number of seconds since 1970";
      return false;
    }
    value = std::min<int64_t>(value * 10 + (*p - '0'), kLastZipTime);
  }
  *seconds = std::max(value, kDefaultTimestamp);
  return true;
}

bool WriteInstaller(const WriteRequest& request, const std::vector<PackEntry>& entries,
                    std::string* error) {
  error->clear();
  struct stat info;
  if (stat(request.outputPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    *error = request.outputPath + ": is a directory; give the installer's file name";
    return false;
  }
  PendingFile output(request.outputPath);
  if (output.fd() < 0) {
    *error = request.outputPath + ": " + std::strerror(errno);
    return false;
  }
  Sink sink;
  sink.fd = output.fd();
  if (!CopyStub(request.stubPath, &sink, error)) return false;

  std::unique_ptr<archive, ArchiveFree> zip(archive_write_new());
  // No ZIP64: the launcher's reader takes only the 32-bit fields. Blocks are buffered but the
  // last one is not padded, since the end record must end the file.
  if (archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
      archive_write_zip_set_compression_deflate(zip.get()) != ARCHIVE_OK ||
      archive_write_set_options(zip.get(), "zip:!zip64") != ARCHIVE_OK ||
      archive_write_set_bytes_per_block(zip.get(), static_cast<int>(kBlockBytes)) != ARCHIVE_OK ||
      archive_write_set_bytes_in_last_block(zip.get(), 1) != ARCHIVE_OK ||
      archive_write_open2(zip.get(), &sink, nullptr, &SinkWrite, nullptr, nullptr) !=
          ARCHIVE_OK) {
    return Fail(zip.get(), sink, error);
  }

  int64_t totalBytes = 0;
  for (const PackEntry& entry : entries) totalBytes += entry.size;
  Progress progress(stderr, request.progress, static_cast<int64_t>(entries.size()), totalBytes);
  std::vector<char> buffer(kBlockBytes);
  for (const PackEntry& entry : entries) {
    std::unique_ptr<archive_entry, EntryFree> header(archive_entry_new());
    archive_entry_set_pathname(header.get(), entry.name.c_str());
    archive_entry_set_filetype(header.get(), entry.directory ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(header.get(), entry.directory || entry.executable ? 0755 : 0644);
    archive_entry_set_size(header.get(), entry.directory ? 0 : entry.size);
    archive_entry_set_mtime(header.get(), static_cast<time_t>(request.timestamp), 0);
    archive_entry_set_uid(header.get(), 0);
    archive_entry_set_gid(header.get(), 0);
    if (archive_write_header(zip.get(), header.get()) != ARCHIVE_OK) {
      return Fail(zip.get(), sink, error);
    }
    if (!entry.directory && !StreamFile(zip.get(), entry, &buffer, progress, error)) {
      return Fail(zip.get(), sink, error);
    }
    progress.AddEntry();
  }
  if (archive_write_close(zip.get()) != ARCHIVE_OK) return Fail(zip.get(), sink, error);
  return output.Commit(error);
}

}  // namespace launcher::packer

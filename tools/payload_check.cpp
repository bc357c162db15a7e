#include "payload_check.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "archive/zip.h"
#include "class_file.h"
#include "file_paths.h"
#include "host/unique_fd.h"
#include "payload_scan.h"
#include "stub_check.h"

namespace launcher::packer {
namespace {

// What the launcher's reader searches for the end record: the record and a full comment.
constexpr int64_t kEndSearchSpan = 22 + 0xFFFF;
constexpr char kMainClass[] = "vantor.class";

// Collects the problems of one installer, each printed as "NAME: what".
class Report {
 public:
  Report(std::string installer, std::FILE* out) : installer_(std::move(installer)), out_(out) {}
  void Problem(const std::string& name, const std::string& what) {
    std::fprintf(out_, "%s: %s\n", name.c_str(), what.c_str());
    ++problems_;
  }
  void Installer(const std::string& what) { Problem(installer_, what); }
  bool Finish() {
    if (problems_ == 0) std::fputs("OK\n", out_);
    return problems_ == 0;
  }

 private:
  std::string installer_;
  std::FILE* out_;
  int problems_ = 0;
};

// Why the reader found no archive: the tail of the file names a cut or trailing bytes.
std::string WhyNoArchive(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  const int64_t length = file ? static_cast<int64_t>(file.tellg()) : 0;
  const int64_t start = std::max<int64_t>(0, length - kEndSearchSpan);
  std::string tail(static_cast<size_t>(length - start), '\0');
  file.seekg(start);
  file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  const size_t at = tail.rfind("PK\5\6");
  if (at == std::string::npos || tail.size() - at < 22) {
    return "no zip end record: the file is cut short, or carries no payload";
  }
  const int64_t end = start + static_cast<int64_t>(at) + 22 +
                      (static_cast<uint8_t>(tail[at + 20]) | static_cast<uint8_t>(tail[at + 21]) << 8);
  if (end > length) return "the file is cut short inside the zip end record";
  if (end == length) return "the zip directory is damaged: the launcher's reader refuses it";
  return std::to_string(length - end) + " bytes of trailing garbage after the zip end record";
}

// The entry's content passes through the reader's own inflation and CRC-32 check into a
// file that keeps nothing.
void CheckContent(ZipArchive* archive, ZipEntry* entry, Report& report) {
  archive->message = nullptr;
  if (zipReadEntry(archive, entry, "/dev/null")) return;
  const char* why = archive->message;
  report.Problem(entry->name, why && std::strcmp(why, "invalid entry CRC") == 0
                                  ? "content does not match its CRC-32 (damaged)"
                                  : std::string("content cannot be read or inflated") +
                                        (why ? std::string(" (") + why + ")" : ""));
}

void CheckName(const ZipEntry& entry, Report& report) {
  const std::string& name = entry.name;
  const bool dotDot = name == ".." || name.rfind("../", 0) == 0 ||
                      name.find("/../") != std::string::npos ||
                      (name.size() >= 3 && name.compare(name.size() - 3, 3, "/..") == 0);
  if (name.empty() || name[0] == '/' || dotDot) {
    report.Problem(name, "name leaves the directory it is unpacked into");
  }
  if (entry.size < 0) report.Problem(name, "size over 2 GiB, past what the launcher reads");
}

// vantor.class, unpacked into a scratch file, must be a class file.
void CheckMainClassEntry(ZipArchive* archive, Report& report) {
  ZipEntry* entry = zipGetEntry(archive, kMainClass);
  if (!entry) {
    report.Problem(kMainClass, "missing: the launcher starts the installer program's main "
                               "class vantor from the payload root");
    return;
  }
  char scratch[] = "/tmp/mkinstaller-check.XXXXXX";
  UniqueFd fd(mkstemp(scratch));
  if (fd.valid() && zipReadEntry(archive, entry, scratch)) {
    char head[8] = {};
    const ssize_t got = pread(fd.get(), head, sizeof head, 0);
    if (ClassFileMajor(std::string(head, got > 0 ? static_cast<size_t>(got) : 0)) == 0) {
      report.Problem(kMainClass, "not a Java class file");
    }
  }
  if (fd.valid()) unlink(scratch);
  zipFreeEntry(archive, entry);
}

}  // namespace

bool CheckInstaller(const std::string& installerPath, std::FILE* out) {
  Report report(installerPath, out);
  struct stat info;
  if (stat(installerPath.c_str(), &info) != 0) {
    report.Installer(std::strerror(errno));
    return report.Finish();
  }
  const auto version = StubVersion(installerPath);
  if (version) {
    std::fprintf(out, "%s: launcher stub %s\n", installerPath.c_str(), version->c_str());
  } else {
    report.Installer("does not start with a launcher stub (no marker)");
  }
  if (info.st_size > kMaxArchiveBytes) {
    report.Installer("larger than 2 GiB, past what the launcher's zip reader addresses");
  }
  int32_t code = 0;
  ZipHandle archive(zipOpen(installerPath.c_str(), &code));
  if (!archive) {
    report.Installer(code == kZipCannotOpen ? std::string(std::strerror(errno))
                                            : WhyNoArchive(installerPath));
    return report.Finish();
  }
  for (int32_t index = 0; index < archive->entryCount; ++index) {
    ZipEntry* entry = zipGetNextEntry(archive.get(), index);
    if (!entry) {
      const char* why = archive->message;
      report.Installer("entry " + std::to_string(index) + " cannot be read" +
                       (why ? std::string(" (") + why + ")" : ""));
      continue;
    }
    CheckName(*entry, report);
    CheckContent(archive.get(), entry, report);
    zipFreeEntry(archive.get(), entry);
  }
  CheckMainClassEntry(archive.get(), report);
  return report.Finish();
}

}  // namespace launcher::packer

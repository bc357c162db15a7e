#include "driver/stages.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/zip.h"
#include "driver/cleanup.h"
#include "driver/jvm_options.h"
#include "host/elf_image.h"
#include "gui/toolkit.h"
#include "host/paths.h"
#include "host/process.h"
#include "host/self_location.h"
#include "host/tempdir.h"
#include "messages/output.h"
#include "messages/profile.h"
#include "runtime/discovery.h"
#include "runtime/launch.h"
#include "runtime/version.h"

namespace launcher {
namespace {

constexpr mode_t kWorkingDirectoryMode = 0700;
constexpr uint64_t kDiskSpaceMargin = 100000;
// A fresh name cures only a name that is taken; this bounds even that.
constexpr int kMaxWorkingDirectoryAttempts = 300;
// Shown in place of the temporary directory when there is no usable one at all.
constexpr char kDefaultTempDirShown[] = "/var/tmp/";
constexpr char kUpgradeScriptName[] = "/UpgradeInvoker.sh";

// The payload is the executable itself; null when it carries no zip archive.
ZipHandle OpenPayload() {
  int32_t code = 0;
  const char* execName = GetExecName();
  return ZipHandle(execName ? zipOpen(execName, &code) : nullptr);
}

// -tmpdir has already stored the absolute form of its value here (default "/var/tmp/"),
// so the working directory, temp.dir and the upgrade script path stay valid after chdir.
const char* TempDir() { return GetTempDir(); }

// Uncompressed sizes of the entries in directory order, up to the first whose local header
// can't be read.
uint64_t TotalOfReadableEntries(ZipArchive* archive) {
  uint64_t total = 0;
  for (int32_t index = 0;; ++index) {
    ZipEntry* entry = zipGetNextEntry(archive, index);
    if (!entry) break;
    // The zip field is unsigned: an entry of 2 GiB or more must not shrink the total.
    total += static_cast<uint32_t>(entry->size);
    zipFreeEntry(archive, entry);
  }
  return total;
}

bool ReportUnusableTempDir(const char* tempDir) {
  ErrorMessage("no_writable_system_tmpdir", tempDir ? tempDir : kDefaultTempDirShown);
  ErrorMessage("no_writable_system_tmpdir_usage", GetProgName());
  return false;
}

}  // namespace

bool CreateWorkingDirectory() {
  const char* tempDir = TempDir();
  if (!tempDir) return ReportUnusableTempDir(nullptr);
  for (int attempt = 0; attempt < kMaxWorkingDirectoryAttempts; ++attempt) {
    // The name is only a proposal; mkdir creates it exclusively with mode 0700, failing
    // with EEXIST when the name was taken meanwhile, so we never use a directory that
    // someone else made.
    std::optional<std::string> name = ProposeTempName(tempDir, GetProgName());
    if (!name) return ReportUnusableTempDir(tempDir);
    // $TMPDIR comes first and may be relative; the run changes directory later.
    std::string path = *name;
    if (!IsAbsolutePath(path.c_str())) {
      auto cwd = GetCurrentDirectory();
      if (!cwd) return ReportUnusableTempDir(tempDir);
      path = Resolve(cwd->c_str(), path.c_str());
    }
    // No signal between creating the directory and publishing it for removal.
    SignalMask block(Held::kAll);
    if (::mkdir(path.c_str(), kWorkingDirectoryMode) == 0) {
      if (SetWorkingDirectory(path.c_str())) return true;
      ::rmdir(path.c_str());
      break;
    }
    if (errno != EEXIST) break;
  }
  return ReportUnusableTempDir(tempDir);
}

std::optional<PayloadSize> MeasurePayload() {
  ZipHandle archive = OpenPayload();
  if (!archive) {
    // A download cut short or with bytes added is not a stub without payload: it must not
    // go on to run whatever lies beside it, or say that no Java was found.
    struct stat st;
    std::optional<uint64_t> image = ElfImageSize(GetExecName());
    if (image && ::stat(GetExecName(), &st) == 0 && static_cast<uint64_t>(st.st_size) > *image) {
      ErrorMessage("corrupted_zip_file", GetExecName());
      return std::nullopt;
    }
    return PayloadSize{};
  }
  // Taken from the index, without reading every local header (one read per file).
  PayloadSize payload{.present = true};
  for (const ZipCell& cell : archive->cells) {
    payload.indexTotal += static_cast<uint32_t>(cell.size);
  }
  return payload;
}

bool CheckDiskSpace(const PayloadSize& payload) {
  const char* tempDir = TempDir();
  uint64_t needed = payload.indexTotal + kDiskSpaceMargin;
  uint64_t available;
  struct statvfs64 fs;
  if (::statvfs64(GetWorkingDirectory(), &fs) == 0) {
    available = static_cast<uint64_t>(fs.f_frsize) * static_cast<uint64_t>(fs.f_bavail);
  } else if (errno == EOVERFLOW) {
    available = needed + 1;
  } else {
    return ReportUnusableTempDir(tempDir);
  }
  // The payload's size is the count by local headers, which stops at one that can't be
  // read; the index total is an upper bound of it, so only when that doesn't fit does the
  // slower count make a difference.
  if (needed > available && payload.present) {
    if (ZipHandle archive = OpenPayload()) {
      needed = TotalOfReadableEntries(archive.get()) + kDiskSpaceMargin;
    }
  }
  if (needed <= available) return true;
  char neededText[32];
  char availableText[32];
  std::snprintf(neededText, sizeof neededText, "%lli", static_cast<long long>(needed));
  std::snprintf(availableText, sizeof availableText, "%lli", static_cast<long long>(available));
  ErrorMessage("no_space_system_tmpdir", tempDir, neededText, availableText);
  ErrorMessage("no_writable_system_tmpdir_usage", GetProgName());
  return false;
}

// A failed walk over a payload without a runtime is left to the payload extraction to
// report; over one with a runtime (its java launcher among the entries) it is damage.
int ExtractPayloadRuntime(const char* directory) {
  ZipHandle archive = OpenPayload();
  if (!archive) return 0;
  StatusMessage("unzipping_java_files");
  if (UnzipFiles(archive.get(), directory, kPayloadRuntimePrefix)) return 1;
  std::string java = std::string(kPayloadRuntimePrefix) + "/bin/java";
  ZipEntry* entry = zipGetEntry(archive.get(), java.c_str());
  if (!entry) return 0;
  zipFreeEntry(archive.get(), entry);
  return -1;
}

std::optional<std::string> SelectJavaRuntime(const std::optional<std::string>& javaHome) {
  SetPayloadRuntimeExtractor(ExtractPayloadRuntime);
  if (javaHome) {
    std::optional<std::string> runtime = GetJREPath(javaHome->c_str());
    if (runtime && CheckJavaVersion(runtime->c_str())) return runtime;
  }
  if (std::optional<std::string> runtime = GetPublicJREPath()) return runtime;
  if (PayloadRuntimeDamaged()) {
    ErrorMessage("corrupted_zip_file", GetExecName());
    return std::nullopt;
  }
  if (javaHome) {
    ErrorMessage("no_find_specified_java", javaHome->c_str());
  } else {
    ErrorMessage("no_find_java");
  }
  ErrorMessage("no_find_java_usage", kMinimumJavaVersion, kJavaDownloadAddress, GetProgName());
  return std::nullopt;
}

bool ExtractPayload() {
  ZipHandle archive = OpenPayload();
  if (!archive) return true;
  StatusMessage("unzipping_files");
  // The runtime search may have written the payload runtime here already; inflating it
  // again would double the work of the largest part of a typical payload.
  const char* workdir = GetWorkingDirectory();
  int written = PayloadRuntimeExtractedInto(workdir)
                    ? UnzipFilesExcept(archive.get(), workdir, kPayloadRuntimePrefix)
                    : UnzipFiles(archive.get(), workdir, nullptr);
  if (!written) {
    ErrorMessage("corrupted_zip_file", GetExecName());
    return false;
  }
  return true;
}

bool AssembleJvmOptions(const std::string& runtimeHome, const Arguments& arguments) {
  AddOption(std::string("-Djava.io.tmpdir=") + GetWorkingDirectory());
  AddOption(std::string("-Dtemp.dir=") + TempDir());
  const char* home = GetApplicationHome();
  if (!home) {
    ErrorMessage("no_find_exec_dir");
    return false;
  }
  std::string classPath = "-Djava.class.path=";
  if (IsJDK(runtimeHome.c_str())) {
    classPath += runtimeHome + "/lib/tools.jar:" + runtimeHome + "/classes:";
  }
  classPath += home;
  const char* const* elements = nullptr;
  int count = GetJavaClasspathElements(&elements);
  for (int i = 0; i < count; ++i) classPath.append(":").append(home).append(elements[i]);
  AddOption(classPath);
  AddOption("-Djava.endorsed.dirs=");
  AddOption("-Xmx256m");
  if (arguments.isDebug) AddOption("-Ddebug=true");
  if (arguments.noPortVerification) AddOption("-Dno.port.verification=true");
  if (arguments.noDomainCreation) AddOption("-Dno.domain=true");
  if (arguments.visiblePassword) AddOption("-Dpassword.visible=true");
  return true;
}

bool EnterApplicationHome() {
  const char* home = GetApplicationHome();
  if (::chdir(home) != 0) {
    ErrorMessage("no_set_specified_working_dir", home);
    return false;
  }
  return true;
}

int RunInstallerProgram(const std::string& runtimeHome, const Arguments& arguments) {
  std::vector<char*> javaArgs;
  std::vector<std::string> storage = arguments.javaArgs;
  for (std::string& arg : storage) javaArgs.push_back(arg.data());
  javaArgs.push_back(nullptr);
  int status = ExecuteJava(runtimeHome.c_str(), GetNumOptions(), GetOptions(),
                           static_cast<int>(storage.size()), javaArgs.data(), HideStatusWindow);
  if (status == kUpgradeRequestStatus) {
    std::string script = std::string(TempDir()) + kUpgradeScriptName;
    InvokeUpgradeTool(script.c_str());
    std::remove(script.c_str());
  }
  return status;
}

}  // namespace launcher

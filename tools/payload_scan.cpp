#include "payload_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "file_paths.h"

namespace launcher::packer {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// One tree (the payload, or the runtime) mapped onto a name prefix in the archive. A
// bundled runtime must stand alone, while an installed JDK links files (conf/, cacerts) to
// /etc: in a standalone tree every link is stored as what it points to, and a link to
// nothing is left out with a warning.
class TreeScanner {
 public:
  TreeScanner(std::string root, std::string namePrefix, std::vector<PackEntry>* entries,
              std::vector<std::string>* warnings)
      : root_(std::move(root)), prefix_(std::move(namePrefix)), entries_(entries),
        warnings_(warnings) {}

  bool Scan(std::string* error) {
    realRoot_ = RealPath(root_);
    if (realRoot_.empty()) {
      *error = Describe(root_);
      return false;
    }
    open_.push_back(realRoot_);
    return ScanDirectory(root_, prefix_, error);
  }

 private:
  bool ScanDirectory(const std::string& dir, const std::string& namePrefix,
                     std::string* error) {
    UniqueDir stream(opendir(dir.c_str()));
    if (!stream) {
      *error = Describe(dir);
      return false;
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* item = readdir(stream.get())) {
      if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
        names.emplace_back(item->d_name);
      }
      errno = 0;
    }
    if (errno != 0) {
      *error = Describe(dir);
      return false;
    }
    stream.reset();
    for (const std::string& name : names) {
      if (!AddPath(dir + "/" + name, namePrefix + name, error)) return false;
    }
    return true;
  }

  // A link resolved to the file or directory it stands for; false with a message, or
  // true with source empty for a link to nothing left out.
  bool FollowLink(const std::string& path, std::string* source, struct stat* info,
                  std::string* error) {
    *source = RealPath(path);
    if (source->empty()) {
      if (warnings_ && errno == ENOENT) {
        warnings_->push_back(path + ": symbolic link to nothing, left out");
        return true;
      }
      *error = path + ": symbolic link to nothing (" + std::strerror(errno) + ")";
      return false;
    }
    if (!warnings_ && !IsWithin(*source, realRoot_)) {
      *error = path + ": symbolic link points outside " + root_ + " (to " + *source + ")";
      return false;
    }
    if (stat(source->c_str(), info) != 0) {
      *error = Describe(*source);
      return false;
    }
    if (S_ISDIR(info->st_mode) &&
        (!warnings_ || std::find(open_.begin(), open_.end(), *source) != open_.end())) {
      // A linked directory that holds the link would be copied without end.
      *error = path + ": symbolic link to a directory" +
               (warnings_ ? " that holds it" : "; replace it with the directory");
      return false;
    }
    return true;
  }

  bool AddPath(const std::string& path, const std::string& name, std::string* error) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
      *error = Describe(path);
      return false;
    }
    std::string source = path;
    if (S_ISLNK(info.st_mode)) {
      if (!FollowLink(path, &source, &info, error)) return false;
      if (source.empty()) return true;
    }
    if (S_ISDIR(info.st_mode)) {
      entries_->push_back({name + "/", "", true, false, 0});
      open_.push_back(RealPath(source));
      const bool scanned = ScanDirectory(source, name + "/", error);
      open_.pop_back();
      return scanned;
    }
    if (!S_ISREG(info.st_mode)) {
      *error = path + ": neither a regular file nor a directory";
      return false;
    }
    entries_->push_back({name, source, false, (info.st_mode & 0111) != 0,
                         static_cast<int64_t>(info.st_size)});
    return true;
  }

  std::string root_;
  std::string realRoot_;
  std::string prefix_;
  std::vector<PackEntry>* entries_;
  std::vector<std::string>* warnings_;  // null: links must stay inside the tree
  std::vector<std::string> open_;       // real paths of the directories being scanned
};

bool IsRegularFile(const std::string& path, struct stat* info) {
  return stat(path.c_str(), info) == 0 && S_ISREG(info->st_mode);
}

bool CheckRuntime(const std::string& jre, std::string* error) {
  struct stat info;
  if (!IsRegularFile(jre + "/bin/java", &info) || (info.st_mode & 0111) == 0) {
    *error = "--jre " + jre + ": no executable bin/java, not a Java runtime";
    return false;
  }
  if (!IsRegularFile(jre + "/lib/i386/libjava.so", &info) &&
      !IsRegularFile(jre + "/lib/libjava.so", &info)) {
    *error = "--jre " + jre + ": neither lib/libjava.so nor lib/i386/libjava.so, not a Java runtime";
    return false;
  }
  return true;
}

// The launcher recognises a runtime by lib/i386/libjava.so; runtimes of other
// architectures keep it in lib/ only, so a copy is stored under the expected name.
void AddArchitectureAlias(const std::string& jre, std::vector<PackEntry>* entries) {
  const std::string alias = "package/jre/lib/i386/libjava.so";
  for (const PackEntry& entry : *entries) {
    if (entry.name == alias) return;
  }
  struct stat info;
  IsRegularFile(jre + "/lib/libjava.so", &info);
  const bool haveDirectory =
      std::any_of(entries->begin(), entries->end(),
                  [](const PackEntry& e) { return e.name == "package/jre/lib/i386/"; });
  if (!haveDirectory) entries->push_back({"package/jre/lib/i386/", "", true, false, 0});
  entries->push_back({alias, RealPath(jre + "/lib/libjava.so"), false,
                      (info.st_mode & 0111) != 0, static_cast<int64_t>(info.st_size)});
}

}  // namespace

bool ScanPayload(const PackSources& sources, std::vector<PackEntry>* entries,
                 std::vector<std::string>* warnings, std::string* error) {
  entries->clear();
  struct stat info;
  if (stat(sources.payloadDir.c_str(), &info) != 0) {
    *error = Describe(sources.payloadDir);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = sources.payloadDir + ": not a directory";
    return false;
  }
  if (!IsRegularFile(sources.payloadDir + "/vantor.class", &info)) {
    *error = sources.payloadDir +
             ": no vantor.class at its root; the launcher starts the installer program's "
             "main class vantor from there";
    return false;
  }
  if (!TreeScanner(sources.payloadDir, "", entries, nullptr).Scan(error)) return false;

  if (!sources.jreDir.empty()) {
    for (const PackEntry& entry : *entries) {
      if (entry.name == "package" || entry.name == "package/jre" ||
          entry.name.rfind("package/jre/", 0) == 0) {
        *error = sources.payloadDir + " already holds " + entry.name +
                 "; give either --jre or a package/jre directory";
        return false;
      }
    }
    if (!CheckRuntime(sources.jreDir, error)) return false;
    const bool havePackage = std::any_of(entries->begin(), entries->end(),
                                         [](const PackEntry& e) { return e.name == "package/"; });
    if (!havePackage) entries->push_back({"package/", "", true, false, 0});
    entries->push_back({"package/jre/", "", true, false, 0});
    if (!TreeScanner(sources.jreDir, "package/jre/", entries, warnings).Scan(error)) return false;
    AddArchitectureAlias(sources.jreDir, entries);
  }

  std::sort(entries->begin(), entries->end(),
            [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  return true;
}

bool CheckReaderLimits(const std::vector<PackEntry>& entries, std::string* error) {
  if (static_cast<int64_t>(entries.size()) > kMaxEntries) {
    *error = "the payload has " + std::to_string(entries.size()) +
             " entries (files and directories); a zip without ZIP64 holds at most " +
             std::to_string(kMaxEntries);
    return false;
  }
  for (const PackEntry& entry : entries) {
    if (entry.size > kMaxArchiveBytes) {
      *error = entry.source + " is " + std::to_string(entry.size) +
               " bytes; the launcher's zip reader (no ZIP64) takes files of at most " +
               std::to_string(kMaxArchiveBytes) + " bytes (2 GiB)";
      return false;
    }
  }
  return true;
}

}  // namespace launcher::packer

#include "class_file.h"

#include <cstdint>
#include <fstream>
#include <cctype>

#include "file_paths.h"

namespace launcher::packer {
namespace {

// Class-file versions are release + 44 since Java 5 (49), and 1.1 to 1.4 were 45 to 48.
constexpr int kMajorOfRelease0 = 44;
constexpr int kFirstMajor = 45;
// The newest installed runtime the launcher accepts reports 1.8 (class-file version 52).
constexpr int kInstalledRuntimeRelease = 8;

}  // namespace

int ClassFileMajor(const std::string& head) {
  if (head.size() < 8) return 0;
  const auto byte = [&](size_t at) { return static_cast<uint8_t>(head[at]); };
  if (byte(0) != 0xCA || byte(1) != 0xFE || byte(2) != 0xBA || byte(3) != 0xBE) return 0;
  const int major = byte(6) << 8 | byte(7);
  return major >= kFirstMajor ? major : 0;
}

std::string JavaRelease(int major) {
  const int release = major - kMajorOfRelease0;
  return major < 49 ? "1." + std::to_string(release) : std::to_string(release);
}

int RuntimeFeature(const std::string& jreDir) {
  std::ifstream release(jreDir + "/release");
  const std::string key = "JAVA_VERSION=\"";
  for (std::string line; std::getline(release, line);) {
    if (line.rfind(key, 0) != 0) continue;
    size_t at = key.size();
    int first = 0, second = 0;
    for (; at < line.size() && isdigit(static_cast<unsigned char>(line[at])); ++at) {
      first = first * 10 + (line[at] - '0');
    }
    if (first != 1) return first;
    for (++at; at < line.size() && isdigit(static_cast<unsigned char>(line[at])); ++at) {
      second = second * 10 + (line[at] - '0');
    }
    return second;
  }
  return 0;
}

bool CheckMainClass(const std::string& classPath, const std::string& jreDir,
                    std::string* warning, std::string* error) {
  std::ifstream file(classPath, std::ios::binary);
  if (!file) {
    *error = Describe(classPath);
    return false;
  }
  char head[8] = {};
  file.read(head, sizeof head);
  const int major = ClassFileMajor(std::string(head, static_cast<size_t>(file.gcount())));
  if (major == 0) {
    *error = classPath + ": not a Java class file (no 0xCAFEBABE header with a class-file "
             "version); compile the installer program with javac";
    return false;
  }
  const std::string needs = classPath + " is compiled for Java " + JavaRelease(major) +
                            " (class-file version " + std::to_string(major) + ")";
  const int runtime = jreDir.empty() ? kInstalledRuntimeRelease : RuntimeFeature(jreDir);
  if (runtime == 0 || major <= runtime + kMajorOfRelease0) return true;
  if (jreDir.empty()) {
    *warning = needs + ", but installed runtimes the launcher accepts are Java 1.4.1 to 8; "
               "bundle a runtime (--jre) or compile with --release 8";
    return true;
  }
  *error = needs + ", newer than the bundled runtime (Java " + std::to_string(runtime) +
           ") runs; compile with --release " + std::to_string(runtime) +
           " or bundle a newer runtime";
  return false;
}

}  // namespace launcher::packer

// The list of entries an installer's payload archive will hold, gathered from directories.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace launcher::packer {

// Largest file the launcher's reader can address: sizes and offsets are signed 32-bit.
constexpr int64_t kMaxArchiveBytes = 2147483647;
// The reader refuses an end record that counts 65,535 entries.
constexpr int64_t kMaxEntries = 65534;

struct PackEntry {
  std::string name;    // archive name; a directory's ends with '/'
  std::string source;  // file whose content is stored (a link's target); empty for directories
  bool directory = false;
  bool executable = false;
  int64_t size = 0;    // size seen by the scan; the packer checks it again while reading
};

struct PackSources {
  std::string payloadDir;  // its contents become the archive root
  std::string jreDir;      // when not empty, stored under package/jre
};

// Walks the sources and fills entries sorted by name. In the payload, symbolic links to
// regular files inside it are stored as copies of the target; links leaving it, dangling
// links, links to directories and special files are refused. In the runtime every link is
// stored as what it points to, wherever that is, and links to nothing are left out with a
// line in warnings. On refusal returns false with a message in error.
bool ScanPayload(const PackSources& sources, std::vector<PackEntry>* entries,
                 std::vector<std::string>* warnings, std::string* error);

// Checks the entry count and the sizes the reader can represent; false with a message.
bool CheckReaderLimits(const std::vector<PackEntry>& entries, std::string* error);

}  // namespace launcher::packer

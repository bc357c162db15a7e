// Writes an installer: the launcher stub followed by a deterministic zip of the entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload_scan.h"

namespace launcher::packer {

// Stamp used when SOURCE_DATE_EPOCH is unset: 1980-01-01 00:00:00 UTC, the first moment a
// zip (MS-DOS) time can hold.
constexpr int64_t kDefaultTimestamp = 315532800;

// The entry timestamp from a SOURCE_DATE_EPOCH value (null: the default); values before
// 1980 or after 2107 are clamped to what a zip time holds. False with a message when the
// value is not a plain decimal number.
bool EntryTimestamp(const char* sourceDateEpoch, int64_t* seconds, std::string* error);

struct WriteRequest {
  std::string stubPath;
  std::string outputPath;
  int64_t timestamp = kDefaultTimestamp;
  bool progress = true;  // a progress bar on a terminal (standard error)
};

// Writes the installer through a temporary file beside the output and renames it into
// place with mode 0755, so a refused or failed run leaves no partial installer. Each file
// is read once, in fixed-size blocks. False with a message in error.
bool WriteInstaller(const WriteRequest& request, const std::vector<PackEntry>& entries,
                    std::string* error);

}  // namespace launcher::packer

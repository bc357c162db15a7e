// The packer's progress bar on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace launcher::packer {

// Draws "[####    ] entries and bytes done" on a terminal, redrawn at most ten times a
// second and only once the pack has taken a second, so quick packs print nothing. Silent
// when out is not a terminal or when disabled.
class Progress {
 public:
  Progress(std::FILE* out, bool enabled, int64_t totalEntries, int64_t totalBytes);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void AddBytes(int64_t bytes);
  void AddEntry();

 private:
  void Draw(bool force);

  std::FILE* out_;
  bool live_;
  bool drawn_ = false;
  int64_t totalEntries_, totalBytes_;
  int64_t entries_ = 0, bytes_ = 0;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

}  // namespace launcher::packer

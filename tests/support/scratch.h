// Scratch directories and small file helpers for tests.
#pragma once

#include <sys/types.h>

#include <string>

namespace launcher::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes content to path, creating parent directories; mode applied with chmod.
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);
// rm -rf without following links.
void RemoveTree(const std::string& path);

}  // namespace launcher::test

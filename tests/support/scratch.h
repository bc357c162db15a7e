// Scratch directories and small file helpers.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace launcher::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes content to path, creating its parents; then chmod to mode.
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // lstat: a dangling link exists
void MakeDirs(const std::string& path);
void RemoveTree(const std::string& path);  // never follows links
std::vector<std::string> ListDir(const std::string& dir);  // sorted, without . and ..

}  // namespace launcher::test

#include "support/scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace launcher::test {

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  path_ = std::string(base && *base ? base : "/tmp") + "/launcher-test.XXXXXX";
  if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void MakeDirs(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) ::mkdir(path.substr(0, at).c_str(), 0755);
  ::mkdir(path.c_str(), 0755);
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  MakeDirs(path.substr(0, path.rfind('/')));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content << std::flush;
  if (!out || ::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool Exists(const std::string& path) { struct stat st; return ::lstat(path.c_str(), &st) == 0; }

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;  // a missing directory lists as empty
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;  // best effort: what can't be removed fails no test
  std::filesystem::remove_all(path, ignored);
}

}  // namespace launcher::test

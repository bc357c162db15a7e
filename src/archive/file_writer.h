// The writing side of extraction: turns the records of a block into directories and files.
#pragma once

#include <string>

#include "archive/block_queue.h"
#include "archive/zip_internal.h"

namespace launcher {

class FileWriter {
 public:
  // Files go under targetDirectory; copied ranges come from the archive file archiveFd.
  FileWriter(const char* targetDirectory, int archiveFd);

  // Carries out every record of block; false at the first directory or file that could
  // not be made or written, or whose content does not match its CRC-32.
  bool Consume(const Block& block);
  // Whether the failure was a content that does not match its CRC-32.
  bool crcMismatch() const { return crcMismatch_; }

 private:
  // Makes the parents of the name assembled in path_, and the file itself when isFile.
  bool Create(bool isFile);

  std::string path_;       // the target directory and '/', then the name being assembled
  std::size_t dirLen_;     // length of the target directory
  std::string madeChain_;  // the directory chain that the last walk made completely
  int archiveFd_;
  FileSink file_;          // the file being written
  bool crcMismatch_ = false;
};

}  // namespace launcher

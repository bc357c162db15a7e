// Extraction of an open archive's entries into a directory.
#pragma once

#include "archive/zip.h"

namespace launcher {

// Writes every entry whose name begins with namePrefix (all when null) under
// targetDirectory, creating directories as needed; 1 on success, 0 at the first failure.
int UnzipFiles(ZipArchive* archive, const char* targetDirectory, const char* namePrefix);

// UnzipFiles of every entry except those whose names begin with excludedPrefix (all when
// null), for a second pass over entries that an earlier one wrote already.
int UnzipFilesExcept(ZipArchive* archive, const char* targetDirectory,
                     const char* excludedPrefix);

}  // namespace launcher

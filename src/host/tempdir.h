// The temporary directory and recursive removal.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// 1 when path (made absolute against the current directory) is a searchable, writable
// directory; it then becomes the temporary directory. 0 leaves the old value.
int SetTempDir(const char* path);

// The temporary directory, defaulting to "/var/tmp/"; null when none is usable.
const char* GetTempDir();

// A name for a new entry that does not exist yet: "DIR/PREFIXxxxxxx", DIR being $TMPDIR when
// that is a directory, else dir when that is one, else /tmp; PREFIX is the first five bytes of
// prefix. Only a proposal: the caller creates it exclusively (mkdir fails on EEXIST). Nothing
// when no directory exists or the name would not fit a path.
std::optional<std::string> ProposeTempName(const char* dir, const char* prefix);

// Levels below a removed directory that DeleteFilesAndDirectories reaches; deeper entries
// stay.
inline constexpr int kMaxRemovalDepth = 512;

// Removes an absolute path and everything below it (down to kMaxRemovalDepth levels)
// without following symbolic links; a trailing '/' names the path without it, and a last
// component "." or ".." removes nothing. Paths equal to an entry of keep (a null-terminated
// list, may be null) are left with their contents. With keep null it allocates nothing and
// is async-signal-safe; errno is preserved. Failures silently leave entries in place.
void DeleteFilesAndDirectories(const char* path, const char* const* keep);

}  // namespace launcher

// The installer program's main class against the Java runtime that will run it.
#pragma once

#include <string>

namespace launcher::packer {

// The class-file major version of a file that begins with head; 0 when head is not the
// start of a class file (magic 0xCAFEBABE, a major version of at least 45).
int ClassFileMajor(const std::string& head);

// The Java release that introduced a class-file major version: "1.4" for 48, "17" for 61.
std::string JavaRelease(int major);

// The feature release of the runtime in jreDir from the JAVA_VERSION of its release file
// ("1.8.0_402" gives 8, "17.0.10" gives 17); 0 when it can't be told.
int RuntimeFeature(const std::string& jreDir);

// Checks classPath, the main class: a class file, and one that the bundled runtime in
// jreDir (or, with jreDir empty, an installed runtime of Java 8 at most) can run. False with
// a message in error; a class that only an installed runtime may fail on gives a warning.
bool CheckMainClass(const std::string& classPath, const std::string& jreDir,
                    std::string* warning, std::string* error);

}  // namespace launcher::packer

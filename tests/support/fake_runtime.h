// Fake Java runtimes for tests: a /bin/sh bin/java that answers -version as told and
// records how it was launched.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace launcher::test {

struct FakeRuntimeOptions {
  // What "java -version" writes, byte for byte (written by cat, so any text is safe).
  std::string versionText = "java version \"1.4.2_04\"\n";
  bool versionToStdout = false;  // write the text to standard output instead of stderr
  bool versionFlood = false;     // after the text, write 1 MB of zero bytes to the same stream
  int versionExitCode = 0;
  int versionSignal = 0;         // when not 0, the probe kills itself with this signal
  // Where a launch (any call other than -version) records itself; see ReadLaunchRecord.
  // Empty: "<dir>/launch-record".
  std::string recordPath;
  int sleepSeconds = 0;          // a launch sleeps this long before it ends
  int exitCode = 0;              // a launch exits with this code ...
  int exitSignal = 0;            // ... or, when not 0, kills itself with this signal
  bool jdk = false;              // dir/jre is the runtime home, dir/lib/tools.jar exists
  bool withLibjava = true;       // lib/i386/libjava.so (empty file)
  bool executableJava = true;    // bin/java mode 0755, else 0644
};

// Builds the runtime under dir (created as needed) and returns its runtime home: dir, or
// dir + "/jre" for a JDK.
std::string MakeFakeRuntime(const std::string& dir, const FakeRuntimeOptions& options = {});

// The record path MakeFakeRuntime uses for dir and options.
std::string FakeRuntimeRecordPath(const std::string& dir, const FakeRuntimeOptions& options);

struct LaunchRecord {
  bool present = false;                    // false: the runtime was never launched
  std::vector<std::string> argv;           // argv[0] is the path the runtime was run as
  std::vector<std::string> environ;        // "NAME=value" entries in the child's order
  std::map<std::string, std::string> env;  // the same as a map
  std::string cwd;                         // physical current directory (pwd -P)
};

// Reads what a launch recorded at recordPath (the files recordPath + ".argv", ".env" and
// ".cwd"). The shell interpreting bin/java exports PWD itself, so env always holds PWD.
LaunchRecord ReadLaunchRecord(const std::string& recordPath);

}  // namespace launcher::test

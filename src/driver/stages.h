// The stages of a run between the command line and the clean-up, in the order main
// calls them. Each prints its own failure messages; false means "exit with status 1".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/arguments.h"

namespace launcher {

// Web page shown in "no_find_java_usage", where a Java runtime can be obtained.
inline constexpr char kJavaDownloadAddress[] = "https://adoptium.net/";

// Java exit status that asks for the upgrade hand-off.
inline constexpr int kUpgradeRequestStatus = 10;

// Creates the private working directory (mode 0700) under the temporary directory.
bool CreateWorkingDirectory();

// What MeasurePayload found in the executable.
struct PayloadSize {
  bool present = false;     // it carries a readable archive
  uint64_t indexTotal = 0;  // the uncompressed sizes that the archive's index declares
};

// Totals the payload's uncompressed entry sizes; nothing present without a payload, and
// nullopt (reported) when bytes follow the executable's image but no archive can be read.
std::optional<PayloadSize> MeasurePayload();

// Checks that the working directory's file system has room for the payload and a margin.
bool CheckDiskSpace(const PayloadSize& payload);

// The runtime search's step that extracts the payload's runtime: it announces the step and
// writes every entry under the runtime's prefix into directory; 1 when all were written,
// 0 without a payload or runtime, -1 when the payload's runtime could not be written intact.
int ExtractPayloadRuntime(const char* directory);

// The runtime home to run: -javahome's when usable, else the general search's.
std::optional<std::string> SelectJavaRuntime(const std::optional<std::string>& javaHome);

// Extracts the whole payload into the working directory (nothing without a payload).
bool ExtractPayload();

// Appends the temporary directories, the class path, the fixed options and the hidden
// switches' options to the JVM option list.
bool AssembleJvmOptions(const std::string& runtimeHome, const Arguments& arguments);

// Makes the application home the current directory.
bool EnterApplicationHome();

// Runs the installer program and, when it asks for it, the upgrade script; its status.
int RunInstallerProgram(const std::string& runtimeHome, const Arguments& arguments);

}  // namespace launcher

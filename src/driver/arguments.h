// The launcher's command line, the usage text, and the program's base name.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace launcher {

// What a successful parse hands to main.
struct Arguments {
  std::optional<std::string> javaHome;  // -javahome, made absolute
  std::optional<std::string> tempDir;   // -tmpdir, as SetTempDir stored it (absolute)
  bool console = false;                 // -console was given
  bool isDebug = false;                 // -debug
  bool noPortVerification = false;      // -noportcheck
  bool noDomainCreation = false;        // -nodomain
  bool visiblePassword = false;         // -passwordvisible
  std::vector<std::string> javaArgs;    // what the installer program gets after its class
};

// Minimum Java version named in the usage texts.
inline constexpr char kMinimumJavaVersion[] = "1.4.1";

// Stores the text after the last '/' of the executable path as the program's base name.
void SetProgName(const char* execPath);

// The base name of the executable: the work dir prefix and the name in usage texts.
const char* GetProgName();

// Prints the usage text as an error.
void PrintUsage();

// Reads the words after the program name; true to go on, false to stop with *status
// (0 after -help, 1 after an error, whose message and usage have been printed). In
// graphical mode (neither -console nor -silent) it starts the toolkit.
bool ParseArguments(int argc, const char* const* argv, Arguments* arguments, int* status);

}  // namespace launcher

// mkinstaller: packs a payload directory behind the launcher stub into one installer file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "class_file.h"
#include "file_paths.h"
#include "launcher_version.h"
#include "payload_check.h"
#include "payload_list.h"
#include "payload_scan.h"
#include "stub_check.h"
#include "zip_pack.h"

namespace launcher::packer {
namespace {

constexpr char kUsage[] =
    "usage: mkinstaller [--launcher STUB] [--jre DIR] [--quiet] -o OUTPUT PAYLOAD_DIR\n"
    "       mkinstaller --list INSTALLER\n"
    "       mkinstaller --check INSTALLER\n"
    "       mkinstaller --help | --version\n"
    "Packs PAYLOAD_DIR (vantor.class at its root) behind the launcher STUB (default: the\n"
    "launcher beside mkinstaller) into the installer OUTPUT, mode 0755. --jre bundles a Java\n"
    "runtime under package/jre. Entry times come from SOURCE_DATE_EPOCH (default 1980-01-01).\n"
    "--quiet prints no progress bar and no summary.\n"
    "--list prints the payload of an installer as the launcher reads it.\n"
    "--check verifies an installer's whole payload (structure, every entry's CRC-32, the\n"
    "main class) without running it: one line per problem, or OK; status 0 or 1.\n";

int Refuse(const std::string& message) {
  std::fprintf(stderr, "mkinstaller: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "mkinstaller: %s\n%s", message.c_str(), kUsage);
  return 1;
}

std::string DefaultStub() {
  std::string self = RealPath("/proc/self/exe");
  return self.empty() ? std::string("launcher") : DirectoryOf(self) + "/launcher";
}

struct Arguments {
  std::string stub, jre, output, payload, list, check;
  bool quiet = false;
};

// An option's value into slot; false when the command line ends first.
bool TakeValue(int argc, char** argv, int* i, std::string* slot) {
  if (*i + 1 >= argc) return false;
  *slot = argv[++*i];
  return true;
}

// Returns -1 when the run goes on, else the exit status.
int ParseArguments(int argc, char** argv, Arguments* args) {
  struct Valued {
    const char* option;
    std::string Arguments::*slot;
    const char* missing;
  };
  static const Valued kValued[] = {
      {"--launcher", &Arguments::stub, "--launcher needs a file"},
      {"--jre", &Arguments::jre, "--jre needs a directory"},
      {"-o", &Arguments::output, "-o needs a file name"},
      {"--list", &Arguments::list, "--list needs an installer"},
      {"--check", &Arguments::check, "--check needs an installer"},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const Valued* valued = nullptr;
    for (const Valued& v : kValued) valued = word == v.option ? &v : valued;
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (word == "--version") {
      std::printf("mkinstaller %s\n", kProjectVersion);
      return 0;
    } else if (valued) {
      if (!TakeValue(argc, argv, &i, &(args->*valued->slot))) return UsageError(valued->missing);
    } else if (word == "--quiet" || word == "-q") {
      args->quiet = true;
    } else if (word.size() > 1 && word[0] == '-') {
      return UsageError("unknown option " + word);
    } else if (args->payload.empty()) {
      args->payload = word;
    } else {
      return UsageError("more than one payload directory: " + word);
    }
  }
  const bool packing = !args->payload.empty() || !args->output.empty() || !args->jre.empty() ||
                       !args->stub.empty();
  if (!args->list.empty() || !args->check.empty()) {
    if (packing || (!args->list.empty() && !args->check.empty())) {
      return UsageError(args->list.empty() ? "--check takes only the installer"
                                           : "--list takes only the installer");
    }
    return -1;
  }
  if (args->output.empty()) return UsageError("no output file (-o OUTPUT)");
  if (args->payload.empty()) return UsageError("no payload directory");
  return -1;
}

// What must hold before anything is written; false with a message in error.
bool CheckInputs(const Arguments& args, const WriteRequest& request, std::string* error) {
  const std::string outputDir = RealPath(DirectoryOf(args.output));
  if (outputDir.empty()) {
    *error = "-o " + Describe(DirectoryOf(args.output));
    return false;
  }
  for (const std::string& tree : {args.payload, args.jre}) {
    if (!tree.empty() && IsWithin(outputDir, RealPath(tree))) {
      *error = args.output + ": the installer would lie inside " + tree +
               ", which is being packed";
      return false;
    }
  }
  if (access(request.stubPath.c_str(), R_OK) != 0) {
    *error = "launcher stub " + Describe(request.stubPath) +
             (args.stub.empty() ? " (build the launcher, or give --launcher STUB)" : "");
    return false;
  }
  if (!CheckStub(request.stubPath, args.output, error)) return false;
  std::string warning;
  if (!CheckMainClass(args.payload + "/vantor.class", args.jre, &warning, error)) return false;
  if (!warning.empty()) std::fprintf(stderr, "mkinstaller: warning: %s\n", warning.c_str());
  return true;
}

int Pack(const Arguments& args) {
  std::string error;
  WriteRequest request;
  request.stubPath = args.stub.empty() ? DefaultStub() : args.stub;
  request.outputPath = args.output;
  request.progress = !args.quiet;
  if (!EntryTimestamp(std::getenv("SOURCE_DATE_EPOCH"), &request.timestamp, &error)) {
    return Refuse(error);
  }
  std::vector<PackEntry> entries;
  std::vector<std::string> warnings;
  if (!ScanPayload({args.payload, args.jre}, &entries, &warnings, &error) ||
      !CheckInputs(args, request, &error) || !CheckReaderLimits(entries, &error)) {
    return Refuse(error);
  }
  for (const std::string& warning : warnings) {
    std::fprintf(stderr, "mkinstaller: warning: %s\n", warning.c_str());
  }
  if (!WriteInstaller(request, entries, &error)) return Refuse(error);
  if (!args.quiet) {
    std::printf("%s: %zu %s\n", args.output.c_str(), entries.size(),
                entries.size() == 1 ? "entry" : "entries");
  }
  return 0;
}

}  // namespace
}  // namespace launcher::packer

int main(int argc, char** argv) {
  using namespace launcher::packer;
  // Zip times are local times; packing in UTC keeps the bytes independent of the machine.
  setenv("TZ", "UTC0", 1);
  tzset();
  Arguments args;
  int status = ParseArguments(argc, argv, &args);
  if (status >= 0) return status;
  if (!args.check.empty()) return CheckInstaller(args.check, stdout) ? 0 : 1;
  if (!args.list.empty()) {
    std::string error;
    return ListInstaller(args.list, stdout, &error) ? 0 : Refuse(error);
  }
  return Pack(args);
}

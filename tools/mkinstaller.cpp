// mkinstaller: packs a payload directory behind the launcher stub into one installer file.
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "payload_list.h"
#include "payload_scan.h"
#include "zip_pack.h"

namespace launcher::packer {
namespace {

constexpr char kUsage[] =
    "usage: mkinstaller [--launcher STUB] [--jre DIR] -o OUTPUT PAYLOAD_DIR\n"
    "       mkinstaller --list INSTALLER\n"
    "Packs PAYLOAD_DIR (vantor.class at its root) behind the launcher STUB (default: the\n"
    "launcher beside mkinstaller) into the installer OUTPUT, mode 0755. --jre bundles a Java\n"
    "runtime under package/jre. Entry times come from SOURCE_DATE_EPOCH (default 1980-01-01).\n"
    "--list prints the payload of an installer as the launcher reads it.\n";

int Refuse(const std::string& message) {
  std::fprintf(stderr, "mkinstaller: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "mkinstaller: %s\n%s", message.c_str(), kUsage);
  return 1;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsWithin(const std::string& path, const std::string& root) {
  return !path.empty() && !root.empty() &&
         (path == root || (path.compare(0, root.size(), root) == 0 &&
                           (root == "/" || path[root.size()] == '/')));
}

std::string DefaultStub() {
  std::string self = RealPath("/proc/self/exe");
  return self.empty() ? std::string("launcher") : DirectoryOf(self) + "/launcher";
}

struct Arguments {
  std::string stub;
  std::string jre;
  std::string output;
  std::string payload;
  std::string list;
};

// Returns -1 when the run goes on, else the exit status.
int ParseArguments(int argc, char** argv, Arguments* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    auto value = [&](std::string* slot) {
      if (i + 1 >= argc) return false;
      *slot = argv[++i];
      return true;
    };
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (word == "--launcher") {
      if (!value(&args->stub)) return UsageError("--launcher needs a file");
    } else if (word == "--jre") {
      if (!value(&args->jre)) return UsageError("--jre needs a directory");
    } else if (word == "-o") {
      if (!value(&args->output)) return UsageError("-o needs a file name");
    } else if (word == "--list") {
      if (!value(&args->list)) return UsageError("--list needs an installer");
    } else if (word.size() > 1 && word[0] == '-') {
      return UsageError("unknown option " + word);
    } else if (args->payload.empty()) {
      args->payload = word;
    } else {
      return UsageError("more than one payload directory: " + word);
    }
  }
  if (!args->list.empty()) {
    if (!args->payload.empty() || !args->output.empty() || !args->jre.empty() ||
        !args->stub.empty()) {
      return UsageError("--list takes only the installer");
    }
    return -1;
  }
  if (args->output.empty()) return UsageError("no output file (-o OUTPUT)");
  if (args->payload.empty()) return UsageError("no payload directory");
  return -1;
}

int Pack(const Arguments& args) {
  const std::string outputDir = RealPath(DirectoryOf(args.output));
  if (outputDir.empty()) return Refuse(args.output + ": its directory does not exist");
  for (const std::string& tree : {args.payload, args.jre}) {
    if (!tree.empty() && IsWithin(outputDir, RealPath(tree))) {
      return Refuse(args.output + ": the installer would lie inside " + tree +
                    ", which is being packed");
    }
  }

  std::string error;
  WriteRequest request;
  request.stubPath = args.stub.empty() ? DefaultStub() : args.stub;
  request.outputPath = args.output;
  if (!EntryTimestamp(std::getenv("SOURCE_DATE_EPOCH"), &request.timestamp, &error)) {
    return Refuse(error);
  }
  if (access(request.stubPath.c_str(), R_OK) != 0) {
    return Refuse("launcher stub " + request.stubPath + ": " + std::strerror(errno) +
                  (args.stub.empty() ? " (build the launcher, or give --launcher STUB)" : ""));
  }

  std::vector<PackEntry> entries;
  if (!ScanPayload({args.payload, args.jre}, &entries, &error) ||
      !CheckReaderLimits(entries, &error) || !WriteInstaller(request, entries, &error)) {
    return Refuse(error);
  }
  std::fprintf(stdout, "%s: %zu entries\n", args.output.c_str(), entries.size());
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
  if (!args.list.empty()) {
    std::string error;
    return ListInstaller(args.list, stdout, &error) ? 0 : Refuse(error);
  }
  return Pack(args);
}

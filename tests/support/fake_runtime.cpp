#include "support/fake_runtime.h"

#include <sys/stat.h>

#include <sstream>

#include "support/scratch.h"

namespace launcher::test {
namespace {

// Single quotes for the shell: every byte but ' stands for itself.
std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Only absolute program paths: the version probe runs with an empty environment.
std::string Script(const std::string& versionFile, const FakeRuntimeOptions& options,
                   const std::string& record) {
  std::ostringstream s;
  const char* stream = options.versionToStdout ? "" : " >&2";
  s << "#!/bin/sh\n"
    << "if [ \"$#\" -eq 1 ] && [ \"$1\" = -version ]; then\n"
    << "  /usr/bin/cat " << ShellQuote(versionFile) << stream << " 2>/dev/null\n";
  if (options.versionFlood) {
    s << "  /usr/bin/head -c 1048576 /dev/zero" << stream << " 2>/dev/null\n";
  }
  if (options.versionSignal != 0) s << "  kill -" << options.versionSignal << " $$\n";
  s << "  exit " << options.versionExitCode << "\n"
    << "fi\n"
    << "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > " << ShellQuote(record + ".argv")
    << "\n"
    << "/usr/bin/env -0 > " << ShellQuote(record + ".env") << "\n"
    << "pwd -P > " << ShellQuote(record + ".cwd") << "\n";
  if (options.sleepSeconds > 0) s << "/usr/bin/sleep " << options.sleepSeconds << "\n";
  if (options.exitSignal != 0) s << "kill -" << options.exitSignal << " $$\n";
  s << "exit " << options.exitCode << "\n";
  return s.str();
}

}  // namespace

std::string FakeRuntimeRecordPath(const std::string& dir, const FakeRuntimeOptions& options) {
  return options.recordPath.empty() ? dir + "/launch-record" : options.recordPath;
}

std::string MakeFakeRuntime(const std::string& dir, const FakeRuntimeOptions& options) {
  std::string home = options.jdk ? dir + "/jre" : dir;
  MakeDirs(home + "/bin");
  std::string versionFile = home + "/bin/version.txt";
  WriteFile(versionFile, options.versionText);
  WriteFile(home + "/bin/java", Script(versionFile, options, FakeRuntimeRecordPath(dir, options)),
            options.executableJava ? 0755 : 0644);
  if (options.withLibjava) WriteFile(home + "/lib/i386/libjava.so", "");
  if (options.jdk) WriteFile(dir + "/lib/tools.jar", "");
  return home;
}

LaunchRecord ReadLaunchRecord(const std::string& recordPath) {
  LaunchRecord record;
  record.present = Exists(recordPath + ".argv");
  if (!record.present) return record;
  record.argv = Split(ReadFile(recordPath + ".argv"), '\n');
  record.environ = Split(ReadFile(recordPath + ".env"), '\0');
  for (const auto& entry : record.environ) {
    size_t eq = entry.find('=');
    if (eq != std::string::npos) record.env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  record.cwd = ReadFile(recordPath + ".cwd");
  if (!record.cwd.empty() && record.cwd.back() == '\n') record.cwd.pop_back();
  return record;
}

}  // namespace launcher::test

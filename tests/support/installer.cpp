#include "support/installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace launcher::test {

std::string Status(const std::string& letters) {
  static const std::map<char, std::string> kLines = {
      {'d', "Checking available disk space...\n"}, {'j', "Checking Java(TM) 2 Runtime Environment...\n"},
      {'r', "Extracting Java(TM) 2 Runtime Environment files...\n"}, {'x', "Extracting installation files...\n"},
      {'l', "Launching Java(TM) 2 Runtime Environment...\n"}, {'c', "Deleting temporary files...\n"}};
  std::string text;
  for (char letter : letters) text += kLines.at(letter);
  return text;
}

const char kUsage[] =
    "Usage: 'setup' [-options]\nwhere options include:\n    -console\n        run this application in a console\n"
    "    -silent <state file>\n        run this application silently using input from the specified file\n"
    "    -savestate <state file>\n        log state information in the specified file\n"
    "    -javahome <JRE (1.4.1 or higher) installation directory>\n        force this application to use the "
    "specified \n        Java(TM) 2 Runtime Environment installation\n    -tmpdir <temporary directory>\n"
    "        put all temporary files in the specified directory\n    -id\n        print WizardID value to standard "
    "output\n    -h\n    -help\n        print this help message\n";

static const char kNoJavaUsage[] =
    "This application needs version 1.4.1 or higher of the Java(TM) 2 Runtime\nEnvironment. If the required Java(TM) 2 "
    "Runtime Environment is not installed,\nyou can download it from the following website:\n    https://adoptium.net/\n"
    "Or if you already have the required Java(TM) 2 Runtime Environment\ninstalled, try rerunning this application with "
    "the following usage:\n    'setup' -javahome <Java(TM) installation directory>\n";

std::string NoJava(const std::string& where) {
  return "Error: Could not find the required version of the Java(TM) 2 Runtime Environment" +
         (where.empty() ? "" : " in '" + where + "'") + ".\n" + kNoJavaUsage;
}

std::string MakeFakeJava(const std::string& dir, const FakeJava& java) {
  std::string home = java.jdk ? dir + "/jre" : dir;
  // Absolute program paths only: the version probe runs with an empty environment.
  WriteFile(home + "/bin/java", "#!/bin/sh\nif [ \"$#\" -eq 1 ] && [ \"$1\" = -version ]; then\n" + java.version + "\nexit 0\nfi\nr='" + dir + "/record'\n"
            "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > \"$r.argv\"\n"
            "/usr/bin/env -u PWD -0 > \"$r.env\"\npwd -P > \"$r.cwd\"\n" + java.launch + "\n", 0755);
  WriteFile(home + "/lib/i386/libjava.so", "");
  if (java.jdk) WriteFile(dir + "/lib/tools.jar", "");
  return home;
}

std::string JavaRecord::Property(const std::string& name) const {
  for (const std::string& arg : argv) if (arg.rfind("-D" + name + "=", 0) == 0) return arg.substr(name.size() + 3);
  return "";
}

std::vector<ZipItem> StandardPayload() {
  return {{.name = "vantor.class", .data = "class bytes"},
          {.name = "package/PackageFormat.jar", .data = "jar bytes", .deflate = true},
          {.name = "package/libPassword.so", .data = "library bytes"}};
}

std::string LauncherPath() { return LAUNCHER_BINARY_DIR "/launcher"; }

// Where the launcher locks an installer file for this user (its title is "Setup").
std::string LockPath(const std::string& installer) {
  struct stat st = {};
  ::stat(installer.c_str(), &st);
  return "/var/tmp//Setup." + std::to_string(static_cast<unsigned long>(st.st_dev)) + "." +
         std::to_string(static_cast<unsigned long long>(st.st_ino)) + "." +
         std::to_string(static_cast<unsigned long>(::geteuid()));
}

Installer::Installer(const std::optional<std::string>& payload) {
  MakeDirs(tmp);
  WriteFile(path, ReadFile(LauncherPath()) + payload.value_or(""), 0755);
}

Installer::~Installer() { ::unlink(LockPath(path).c_str()); }

std::string Installer::UseJava(const FakeJava& java) { return javaHome = MakeFakeJava(dir + "/jre", java); }

std::string Installer::Expand(std::string text, const JavaRecord* record) const {
  const std::pair<std::string, std::string> names[] = {
      {"{work}", record ? record->Property("java.io.tmpdir") : ""}, {"{tmp}", tmp},
      {"{java}", javaHome}, {"{inst}", path}, {"{dir}", dir}};
  for (const auto& [name, value] : names)
    for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), value);
  return text;
}

RunOptions Installer::Options(const std::vector<std::string>& args, const Env& env) const {
  // No runtime on PATH, English texts; tempnam prefers TMPDIR, so it points here too.
  RunOptions options{.argv = {path}, .argv0 = argv0, .env = Env{{"PATH", "/usr/bin:/bin"}, {"LANG", "C"}, {"TMPDIR", tmp}}};
  for (const std::string& arg : args) options.argv.push_back(Expand(arg));
  if (!javaHome.empty()) (*options.env)["JAVA_HOME"] = javaHome;
  for (const auto& [key, value] : env) (*options.env)[key] = Expand(value);
  return options;
}

Outcome Installer::Finish(RunResult run) const {
  Outcome outcome{.run = std::move(run), .java = {}, .left = ListDir(tmp), .lockLeft = Exists(LockPath(path))};
  std::string record = dir + "/jre/record", argv = ReadFile(record + ".argv"), env = ReadFile(record + ".env"),
              cwd = ReadFile(record + ".cwd");
  outcome.java.started = Exists(record + ".argv");
  for (size_t start = 0, end; (end = argv.find('\n', start)) != std::string::npos; start = end + 1)
    outcome.java.argv.push_back(argv.substr(start, end - start));
  for (size_t start = 0, end, eq; (end = env.find('\0', start)) != std::string::npos; start = end + 1) {
    eq = env.find('=', start);
    outcome.java.env[env.substr(start, eq - start)] = env.substr(eq + 1, end - eq - 1);
  }
  outcome.java.cwd = cwd.substr(0, cwd.find('\n'));
  return outcome;
}

}  // namespace launcher::test

// Hostile payloads appended to the built launcher and run in console mode, each in a world
// of its own: the installer, the temporary directory with a canary directory beside it, and
// a fake runtime that copies the extracted tree away before the launcher removes it.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/zip_builder.h"
#include "e2e/e2e_support.h"

namespace launcher::hostile {

using namespace launcher::e2e;

// How a run may end. A payload whose archive the reader can't open is damage too
// (kUnreadable): the launcher says so before it looks for a runtime.
enum class Outcome { kRefused, kUnreadable, kExtracted, kNoSpace };

// The directories of one case.
struct World {
  std::string root;       // everything of the case lies below
  std::string installer;  // root/inst/setup
  std::string area;       // root/area: the temporary directory's parent
  std::string tmp;        // root/area/tmp, given with -tmpdir
  std::string canary;     // root/area/canary, beside the temporary directory
  std::string runtime;    // the fake runtime's home
  std::string copy;       // where the fake runtime copies the extracted tree
};

struct HostileCase {
  std::string label;
  std::function<std::string(const World&)> payload;  // the archive appended to the launcher
  std::set<Outcome> allowed;                          // any of these is a pass
  // For kExtracted: every regular file the run must leave extracted, with its content.
  std::map<std::string, std::string> files{};
  std::map<std::string, std::string> env{};  // added to the run's environment
  // The runtime comes from JAVA_HOME instead of -javahome, so the launcher first extracts
  // the payload's own runtime, if any, with a name filter.
  bool searchPayloadRuntime = false;
  // Checks on the working directory that a refused run leaves behind.
  std::function<void(const std::string& workdir)> inspectLeftover{};
};

// The fake program's exit status, which the launcher passes on; no launcher failure gives it.
constexpr int kProgramStatus = 7;

// A stored entry.
inline test::ZipItem Stored(const std::string& name, const std::string& data) {
  test::ZipItem item;
  item.name = name;
  item.data = data;
  return item;
}

// A deflated entry.
inline test::ZipItem Deflated(const std::string& name, const std::string& data) {
  test::ZipItem item = Stored(name, data);
  item.deflate = true;
  return item;
}

// The installer program's own files; a payload that carries them reaches the Java launch.
inline std::vector<test::ZipItem> ProgramEntries() {
  return {Stored("vantor.class", "class bytes"), Deflated("package/PackageFormat.jar", "jar")};
}

inline std::map<std::string, std::string> ProgramFiles() {
  return {{"vantor.class", "class bytes"}, {"package/PackageFormat.jar", "jar"}};
}

// ProgramEntries followed by entries.
inline std::vector<test::ZipItem> WithProgram(std::vector<test::ZipItem> entries) {
  std::vector<test::ZipItem> all = ProgramEntries();
  all.insert(all.end(), entries.begin(), entries.end());
  return all;
}

// A case whose payload is the program's files followed by the entries made for its world.
inline HostileCase WithEntries(std::string label, std::set<Outcome> allowed,
                               std::function<std::vector<test::ZipItem>(const World&)> entries) {
  HostileCase c;
  c.label = std::move(label);
  c.allowed = std::move(allowed);
  c.payload = [entries](const World& world) {
    return test::BuildZip(WithProgram(entries(world))).bytes;
  };
  return c;
}

// A case whose payload, the program's files followed by entries, must be refused.
inline HostileCase Refused(std::string label, std::vector<test::ZipItem> entries) {
  return WithEntries(std::move(label), {Outcome::kRefused},
                     [entries](const World&) { return entries; });
}

// The names in dir, without "." and ".."; none when it can't be read.
inline std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* stream = ::opendir(dir.c_str());
  if (!stream) return names;
  while (dirent* entry = ::readdir(stream)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  return names;
}

// Everything below dir as "relative path" -> type, mode, size and content (or link
// target); entries whose relative path begins with skip are left out.
inline void SnapshotInto(const std::string& dir, const std::string& relative,
                         const std::string& skip, std::map<std::string, std::string>* out) {
  for (const std::string& name : Names(dir)) {
    std::string rel = relative.empty() ? name : relative + "/" + name;
    if (!skip.empty() && rel.rfind(skip, 0) == 0) continue;
    std::string path = dir + "/" + name;
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::string description = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode)) {
      description += " " + std::to_string(std::hash<std::string>{}(ReadFile(path)));
    } else if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = ::readlink(path.c_str(), target, sizeof target);
      description += " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    }
    (*out)[rel] = description;
    if (S_ISDIR(st.st_mode)) SnapshotInto(path, rel, skip, out);
  }
}

// The world's surroundings of the working directory: the temporary directory's parent
// (canary included) and the installer's directory; a working directory left in tmp is
// not part of it.
inline std::map<std::string, std::string> Snapshot(const World& world) {
  std::map<std::string, std::string> shot;
  SnapshotInto(world.area, "area", "area/tmp/setup", &shot);
  SnapshotInto(world.root + "/inst", "inst", "", &shot);
  return shot;
}

// Regular files below dir with their contents; any other kind of entry but a directory is
// recorded with a marker so that it fails the comparison.
inline void ReadTree(const std::string& dir, const std::string& relative,
                     std::map<std::string, std::string>* out) {
  for (const std::string& name : Names(dir)) {
    std::string rel = relative.empty() ? name : relative + "/" + name;
    std::string path = dir + "/" + name;
    struct stat st = {};
    ::lstat(path.c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      ReadTree(path, rel, out);
    } else {
      (*out)[rel] = S_ISREG(st.st_mode) ? ReadFile(path) : "<not a regular file>";
    }
  }
}

// The first path whose content differs between two trees (or that only one holds), or "".
inline std::string FirstDifference(const std::map<std::string, std::string>& got,
                                   const std::map<std::string, std::string>& expected) {
  for (const auto& [path, content] : expected) {
    auto it = got.find(path);
    if (it == got.end()) return "missing: " + path.substr(0, 80);
    if (it->second != content) {
      return "content of " + path.substr(0, 80) + ": " + it->second.substr(0, 80);
    }
  }
  for (const auto& entry : got) {
    if (!expected.count(entry.first)) return "unexpected: " + entry.first.substr(0, 80);
  }
  return "";
}

// Makes the world of one case under base/<index> and writes its installer.
inline World MakeWorld(const std::string& base, size_t index, const HostileCase& c) {
  World world;
  world.root = base + "/" + std::to_string(index);
  world.installer = world.root + "/inst/setup";
  world.area = world.root + "/area";
  world.tmp = world.area + "/tmp";
  world.canary = world.area + "/canary";
  world.copy = world.root + "/copy";
  MakeDirs(world.tmp);
  MakeDirs(world.root + "/inst");
  WriteFile(world.canary + "/keep.txt", "canary");
  WriteFile(world.area + "/beside-tmp.txt", "canary");
  FakeRuntimeOptions java;
  java.exitCode = kProgramStatus;
  java.recordPath = world.root + "/launch-record";
  world.runtime = MakeFakeRuntime(world.root + "/jre", java);
  // The launch runs in the working directory: keep a copy of what was extracted.
  AddLaunchStep(world.runtime, "/usr/bin/cp -a . '" + world.copy + "'");
  WriteFile(world.installer, ReadFile(LauncherPath()) + c.payload(world), 0755);
  return world;
}

inline const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kRefused: return "refused";
    case Outcome::kUnreadable: return "unreadable";
    case Outcome::kExtracted: return "extracted";
    case Outcome::kNoSpace: return "no space";
  }
  return "?";
}

// How the run ended, judged from its texts and status alone. A runtime named with -javahome
// is never looked for in the payload; only otherwise does a line announce that search.
inline std::optional<Outcome> Classify(const World& world, RunResult run,
                                       bool searchPayloadRuntime) {
  const std::string search = "Extracting Java(TM) 2 Runtime Environment files...\n";
  size_t searchLine = run.out.find(search);
  if (searchPayloadRuntime) {
    if (searchLine == std::string::npos) return std::nullopt;
    run.out.erase(searchLine, search.size());
  }
  // Started by its absolute path, the executable is named "/" + that path.
  if (run.exitCode == 1 &&
      run.err == "Error: The '/" + world.installer + "' file appears to be corrupted.\n" &&
      run.out ==
          "Checking available disk space...\n"
          "Checking Java(TM) 2 Runtime Environment...\n"
          "Extracting installation files...\n") {
    return Outcome::kRefused;
  }
  if (run.exitCode == 1 &&
      run.err == "Error: The '/" + world.installer + "' file appears to be corrupted.\n" &&
      run.out == "Checking available disk space...\n") {
    return Outcome::kUnreadable;
  }
  if (run.exitCode == kProgramStatus && run.err.empty() &&
      run.out ==
          "Checking available disk space...\n"
          "Checking Java(TM) 2 Runtime Environment...\n"
          "Extracting installation files...\n"
          "Launching Java(TM) 2 Runtime Environment...\n"
          "Deleting temporary files...\n") {
    return Outcome::kExtracted;
  }
  if (run.exitCode == 1 && run.err.find("not enough free disk space") != std::string::npos) {
    return Outcome::kNoSpace;
  }
  return std::nullopt;
}

// Runs every case at once (runs that reach the Java launch last 10 seconds by design) and
// checks each: an allowed outcome, no crash, no hang, nothing changed around the working
// directory, and for an extraction exactly the expected files.
inline void RunCases(const std::vector<HostileCase>& cases) {
  ScratchDir scratch;
  std::vector<World> worlds;
  std::vector<std::map<std::string, std::string>> before;
  std::vector<std::unique_ptr<Background>> runs;
  for (size_t i = 0; i < cases.size(); ++i) {
    worlds.push_back(MakeWorld(scratch.path(), i, cases[i]));
    before.push_back(Snapshot(worlds[i]));
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    RunOptions options;
    options.argv = {worlds[i].installer, "-console", "-tmpdir", worlds[i].tmp};
    auto env = BaseEnv(worlds[i].tmp);
    if (cases[i].searchPayloadRuntime) {
      env["JAVA_HOME"] = worlds[i].runtime;
    } else {
      options.argv.insert(options.argv.end(), {"-javahome", worlds[i].runtime});
    }
    for (const auto& [key, value] : cases[i].env) env[key] = value;
    options.env = env;
    options.timeoutSeconds = 300;
    runs.push_back(std::make_unique<Background>(options));
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const HostileCase& c = cases[i];
    const World& world = worlds[i];
    SCOPED_TRACE("case " + c.label);
    RunResult run = runs[i]->Wait();
    ::unlink(LockPath(world.installer).c_str());
    EXPECT_FALSE(run.timedOut) << "hung";
    EXPECT_EQ(run.signal, 0) << "crashed";
    std::optional<Outcome> outcome = Classify(world, run, c.searchPayloadRuntime);
    if (!outcome) {
      ADD_FAILURE() << "status " << run.exitCode << "\nout: " << run.out << "\nerr: " << run.err;
      continue;
    }
    EXPECT_TRUE(c.allowed.count(*outcome)) << "unexpected outcome: " << OutcomeName(*outcome);
    EXPECT_EQ(Snapshot(world), before[i]) << "something changed outside the working directory";

    std::vector<std::string> left = ListDir(world.tmp);
    if (*outcome == Outcome::kRefused || *outcome == Outcome::kUnreadable) {
      // A failure exit keeps the working directory; only that one may be there.
      EXPECT_EQ(left.size(), 1u);
      if (left.size() == 1) {
        EXPECT_EQ(left[0].rfind("setup", 0), 0u) << left[0];
        if (c.inspectLeftover) c.inspectLeftover(world.tmp + "/" + left[0]);
      }
    } else if (*outcome != Outcome::kNoSpace) {
      EXPECT_TRUE(left.empty()) << "left in the temporary directory: " << left.size()
                                << " entries, first " << (left.empty() ? "" : left[0]);
    }
    if (*outcome == Outcome::kExtracted) {
      std::map<std::string, std::string> tree;
      ReadTree(world.copy, "", &tree);
      EXPECT_EQ(tree.size(), c.files.size());
      EXPECT_EQ(FirstDifference(tree, c.files), "") << "the extracted tree differs";
    }
  }
}

}  // namespace launcher::hostile

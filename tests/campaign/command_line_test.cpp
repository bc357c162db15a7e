// Random command lines from the option words and hostile strings: every run must end with
// status 0 or 1 and exactly the texts that the command-line rules give for it, and leave
// nothing but what those rules leave.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "campaign/campaign_support.h"

namespace launcher::campaign {
namespace {

constexpr int kShards = 10;

const char* const kOptionWords[] = {"-help",  "-h",           "-console",    "-silent",
                                    "-savestate", "-javahome", "-tmpdir",    "-debug",
                                    "-noportcheck", "-nodomain", "-passwordvisible", "-id"};

// Words that look like options, name real places, or carry format directives.
const char* const kTrickyWords[] = {
    "", "-", "--help", "-Console", "-help ", " -h", "-tmpdi", "-idd", "-javahome=x",
    ".", "..", "/", "d", "d/", "./d", "file", "/nonexistent", "%s%s%s%n", "%%", "%1$s",
    "a:b", "caf\xc3\xa9", "\xff\xfe", "\x01", "-silent\n", "../../..", "//", "d/../d"};

std::string RandomBytes(std::mt19937_64& random, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>(1 + random() % 255);
  return text;
}

std::string RandomWord(std::mt19937_64& random, const std::string& tmp) {
  switch (random() % 16) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
      return kOptionWords[random() % std::size(kOptionWords)];
    case 8: case 9: case 10:
      return kTrickyWords[random() % std::size(kTrickyWords)];
    case 11:
      return tmp;  // a usable temporary directory, so that -tmpdir can pass
    case 12:
      return RandomBytes(random, 1 + random() % 8);
    case 13:
      return RandomBytes(random, 1 + random() % 300);
    case 14:
      // Very long: past PATH_MAX and past any fixed buffer of the launcher.
      return random() % 2 ? std::string(4000 + random() % 60000, 'a')
                          : RandomBytes(random, 4000 + random() % 60000);
    default:
      return kOptionWords[random() % std::size(kOptionWords)] + RandomBytes(random, 1);
  }
}

// Half the lines are words at random; the other half are options with a random word after
// each one that takes a value, so that many lines pass the parse and reach later stages.
std::vector<std::string> RandomLine(std::mt19937_64& random, const std::string& tmp) {
  std::vector<std::string> words;
  size_t count = random() % 9;
  bool structured = random() % 2 == 0;
  while (words.size() < count) {
    if (!structured) {
      words.push_back(RandomWord(random, tmp));
      continue;
    }
    // -help and -h end every line they are in; they are rare here.
    std::string option = kOptionWords[2 + random() % (std::size(kOptionWords) - 2)];
    if (random() % 40 == 0) option = kOptionWords[random() % 2];
    words.push_back(option);
    if (option == "-silent" || option == "-savestate" || option == "-javahome" ||
        option == "-tmpdir") {
      if (random() % 30 != 0) words.push_back(RandomWord(random, tmp));
    }
  }
  return words;
}

// What a run with these words must print and return, by the command-line rules, in an
// environment where no Java runtime can be found and no display can be opened.
struct Expected {
  int status = 1;
  std::string out;
  std::string err;
  bool parsed = false;  // the run went on to make its working directory
};

class Rules {
 public:
  Rules(std::string cwd, std::string display) : cwd_(std::move(cwd)), display_(std::move(display)) {}

  Expected For(const std::vector<std::string>& words) const {
    Expected expected;
    bool console = false;
    bool silent = false;
    std::optional<std::string> javaHome;
    for (size_t i = 0; i < words.size(); ++i) {
      const std::string& word = words[i];
      bool hasValue = i + 1 < words.size();
      const std::string value = hasValue ? words[i + 1] : "";
      if (word == "-help" || word == "-h") {
        expected.status = 0;
        expected.err = Usage();
        return expected;
      } else if (word == "-console") {
        console = true;
      } else if (word == "-silent" || word == "-savestate") {
        if (!hasValue) return Refused("Error: '" + word + "' must be followed by a file name.\n");
        if (word == "-silent") silent = true;
        ++i;
      } else if (word == "-javahome") {
        if (!hasValue) {
          return Refused("Error: '-javahome' must be followed by a Java(TM) installation "
                         "directory.\n");
        }
        javaHome = value;
        ++i;
      } else if (word == "-tmpdir") {
        if (!hasValue) return Refused("Error: '-tmpdir' must be followed by a writable directory.\n");
        if (!UsableTempDir(value)) return Refused("Error: '" + value + "' is not a writable directory.\n");
        ++i;
      } else if (word != "-debug" && word != "-noportcheck" && word != "-nodomain" &&
                 word != "-passwordvisible" && word != "-id") {
        return Refused("Error: '" + word + "' is not a valid argument.\n");
      }
    }
    if (!console && !silent) {
      expected.out = "Connecting to X11 server '" + display_ + "'.\n";
      expected.err = "Error: Cannot connect to X11 server '" + display_ + "'.\n"
                     "Check that the DISPLAY environment variable is correctly set or try\n"
                     "rerunning this application with the following usage:\n"
                     "    'setup' -console\n";
      return expected;
    }
    expected.parsed = true;
    expected.out =
        "Checking available disk space...\n"
        "Checking Java(TM) 2 Runtime Environment...\n"
        "Extracting Java(TM) 2 Runtime Environment files...\n";
    if (javaHome) {
      std::string absolute = !javaHome->empty() && (*javaHome)[0] == '/' ? *javaHome
                                                                         : cwd_ + "/" + *javaHome;
      expected.err = "Error: Could not find the required version of the Java(TM) 2 Runtime "
                     "Environment in '" + absolute + "'.\n";
    } else {
      expected.err = "Error: Could not find the required version of the Java(TM) 2 Runtime "
                     "Environment.\n";
    }
    expected.err += kNoJavaUsage;
    return expected;
  }

 private:
  static std::string Usage() { return kUsage; }

  static Expected Refused(const std::string& message) {
    Expected expected;
    expected.err = message + Usage();
    return expected;
  }

  // A readable, writable, searchable directory, relative names taken from the current one.
  bool UsableTempDir(const std::string& value) const {
    std::string path = !value.empty() && value[0] == '/' ? value : cwd_ + "/" + value;
    struct stat st;
    return ::access(path.c_str(), R_OK | W_OK | X_OK) == 0 && ::stat(path.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
  }

  std::string cwd_;
  std::string display_;
};

// Printable form of a command line for failure reports: C escapes for every odd byte.
std::string Escaped(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) {
    text += " \"";
    if (word.size() > 200) {
      text += "<" + std::to_string(word.size()) + " bytes>";
    } else {
      for (unsigned char c : word) {
        char escape[8];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
          text += static_cast<char>(c);
        } else {
          std::snprintf(escape, sizeof escape, "\\x%02x", c);
          text += escape;
        }
      }
    }
    text += "\"";
  }
  return text;
}

class CommandLines : public ::testing::TestWithParam<int> {};

TEST_P(CommandLines, NeverCrashAndEndWithTheTextsAndStatusOfTheOptionRules) {
  int total = CampaignCount("LAUNCHER_CAMPAIGN_COMMAND_LINES", 10000);
  int shard = GetParam();
  int first = total * shard / kShards;
  int last = total * (shard + 1) / kShards;

  ScratchDir scratch;
  std::string cwd = scratch / "cwd";
  MakeDirs(cwd + "/d");
  WriteFile(cwd + "/file", "not a directory");
  MakeDirs(scratch / "emptybin");
  std::string tmp = scratch / "tmp";
  MakeDirs(tmp);
  std::string installer = scratch / "inst/setup";
  MakeInstaller(installer, StandardPayload());
  std::string display = DeadDisplay();
  Rules rules(cwd, display);
  auto random = Generator("CommandLines" + std::to_string(shard));

  int statusZero = 0;
  int parsed = 0;
  int refused = 0;
  int mismatches = 0;
  for (int index = first; index < last; ++index) {
    std::vector<std::string> words = RandomLine(random, tmp);
    Expected expected = rules.For(words);

    RunOptions options;
    options.argv = {installer};
    options.argv.insert(options.argv.end(), words.begin(), words.end());
    // No runtime on PATH or in JAVA_HOME: nothing here may reach a Java run.
    options.env = std::map<std::string, std::string>{
        {"PATH", scratch / "emptybin"}, {"LANG", "C"}, {"TMPDIR", tmp}, {"DISPLAY", display}};
    options.cwd = cwd;
    options.timeoutSeconds = 30;
    RunResult result = launcher::test::Run(options);

    std::vector<std::string> left = ListDir(tmp);
    size_t allowed = expected.parsed ? 1 : 0;  // a failure exit keeps its working directory
    bool ok = result.signal == 0 && !result.timedOut && result.exitCode == expected.status &&
              result.out == expected.out && result.err == expected.err &&
              left.size() == allowed && ListDir(cwd).size() == 2 &&
              !Exists(LockPath(installer));
    if (!ok && ++mismatches <= 5) {
      ADD_FAILURE() << "seed " << CampaignSeed() << ", shard " << shard << ", line " << index
                    << ":" << Escaped(words) << "\nstatus " << result.exitCode << " (expected "
                    << expected.status << "), signal " << result.signal << ", timed out "
                    << result.timedOut << ", " << left.size() << " left in tmp\nstdout '"
                    << result.out << "'\nexpected '" << expected.out << "'\nstderr '"
                    << result.err << "'\nexpected '" << expected.err << "'";
    }
    if (result.exitCode == 0) ++statusZero;
    if (expected.parsed) ++parsed;
    if (!expected.parsed && expected.status == 1 && expected.out.empty()) ++refused;
    for (const auto& name : left) RemoveTree(tmp + "/" + name);
    ::unlink(LockPath(installer).c_str());
  }
  EXPECT_EQ(mismatches, 0);
  Report("command lines %d..%d (shard %d): %d tried, %d help, %d option errors, %d parsed, "
         "%d graphical refusals, %d mismatches, seed %llu",
         first, last - 1, shard, last - first, statusZero, refused, parsed,
         last - first - statusZero - refused - parsed, mismatches,
         static_cast<unsigned long long>(CampaignSeed()));
}

INSTANTIATE_TEST_SUITE_P(Campaign, CommandLines, ::testing::Range(0, kShards));

}  // namespace
}  // namespace launcher::campaign

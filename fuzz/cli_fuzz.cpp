// libFuzzer target over the command-line parser and the multibyte-aware searches. The input,
// split at NUL bytes, is LC_ALL (empty: unset), then the words of a command line. The toolkit
// and the JVM option list are replaced: a graphical parse must open no display, and the
// option list, kept for the whole process, would grow with every input.
// fuzz-sources: src/host src/messages src/driver/arguments.cpp
// fuzz-flags: -close_fd_mask=3
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/jvm_options.h"
#include "gui/toolkit.h"
#include "host/locale.h"
#include "host/paths.h"
#include "messages/output.h"

namespace launcher {
void AddOption(std::string_view option) {
  if (option != "-Djava.awt.headless=true") ::abort();  // the parser adds only this
}
X11Functions* LoadX11(bool) { return SetPrintToConsole(1), nullptr; }
}  // namespace launcher

// putenv, rewritten in place: setenv keeps every value it ever set.
char lcAll[8192];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size && fields.size() <= 33; ++i) {
    if (data[i]) fields.back().push_back(static_cast<char>(data[i]));
    else fields.emplace_back();
  }
  if (fields[0].empty() || fields[0].size() > 8000) ::unsetenv("LC_ALL");
  else ::putenv(std::strcat(std::strcpy(lcAll, "LC_ALL="), fields[0].c_str()));
  launcher::UpdateLocale();
  std::vector<const char*> argv;
  for (size_t i = 1; i < fields.size(); ++i) {
    const char* s = fields[i].c_str();
    for (int c : {'/', ':', '_'}) {  // found only where a character begins, first before last
      const char *first = launcher::_strchr(s, c), *last = launcher::_strrchr(s, c);
      if ((first == nullptr) != (last == nullptr) || (first && (last < first || *first != c || *last != c ||
          !launcher::IsMultiByteChar(s, static_cast<size_t>(first - s))))) ::abort();
    }
    argv.push_back(s);
  }
  launcher::SetPrintToConsole(1);
  launcher::Arguments arguments;
  int status = -1;
  bool goOn = launcher::ParseArguments(static_cast<int>(argv.size()), argv.data(), &arguments, &status);
  if ((!goOn && status != 0 && status != 1) || (goOn && arguments.javaHome && !launcher::IsAbsolutePath(arguments.javaHome->c_str()))) ::abort();
  return 0;
}

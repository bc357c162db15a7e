// libFuzzer target over the command-line parser and the locale tag. The input is split at
// NUL bytes: LC_ALL, LANG (an empty field unsets the variable), then the words of a command
// line. The locale tag is computed afresh, the multibyte-aware searches are checked over
// every word, and the words are parsed as the launcher's arguments.
//
// The toolkit and the JVM option list are replaced below: a graphical parse must not open a
// display, and the option list, kept for the whole process, would grow with every input.
// Messages go to standard output and error, which libFuzzer discards (-close_fd_mask=3).
// fuzz-sources: src/host src/messages src/driver/arguments.cpp
// fuzz-flags: -close_fd_mask=3
#include <stdlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "driver/arguments.h"
#include "driver/jvm_options.h"
#include "gui/toolkit.h"
#include "host/locale.h"
#include "host/paths.h"
#include "messages/output.h"

namespace launcher {

void AddOption(std::string_view option) {
  // The parser adds only the headless switch, once per -console or -silent.
  if (option != "-Djava.awt.headless=true") ::abort();
}

// No display: the toolkit always fails, which turns console output back on.
X11Functions* LoadX11(bool) {
  SetPrintToConsole(1);
  return nullptr;
}

}  // namespace launcher

namespace {

constexpr size_t kMaxWords = 32;

// "NAME=value" for putenv. setenv keeps every value it ever set (the environment can't
// know who still holds them), which over millions of inputs fills the memory; putenv keeps
// this buffer instead, rewritten in place.
struct EnvSlot {
  const char* name;
  char text[8192];
};
EnvSlot lcAll = {"LC_ALL", {}};
EnvSlot lang = {"LANG", {}};

void SetOrUnset(EnvSlot& slot, const std::string& value) {
  size_t nameLength = std::strlen(slot.name);
  if (value.empty() || nameLength + 1 + value.size() >= sizeof slot.text) {
    ::unsetenv(slot.name);
    return;
  }
  std::memcpy(slot.text, slot.name, nameLength);
  slot.text[nameLength] = '=';
  std::memcpy(slot.text + nameLength + 1, value.c_str(), value.size() + 1);
  ::putenv(slot.text);
}

// True when value is one of the values (odd slots) of a table ended by an empty key.
bool IsTableValue(const char* const* table, const std::string& value) {
  for (; table[0][0] != '\0'; table += 2) {
    if (value == table[1]) return true;
  }
  return false;
}

// Whatever the environment holds, the tag is made of table values only: a language, or a
// language, "_" and a country.
void CheckTag(const char* tag) {
  if (!tag) ::abort();
  std::string text = tag;
  size_t underscore = text.find('_');
  std::string language = text.substr(0, underscore);
  if (language != "en" && !IsTableValue(launcher::language_names, language)) {
    ::abort();
  }
  if (underscore != std::string::npos &&
      !IsTableValue(launcher::country_names, text.substr(underscore + 1))) {
    ::abort();
  }
}

// The multibyte-aware searches find c only where a character begins, and the backward
// search never finds an earlier byte than the forward one.
void CheckSearches(const std::string& word) {
  const char* s = word.c_str();
  for (int c : {'/', ':', '_', '.'}) {
    const char* first = launcher::_strchr(s, c);
    const char* last = launcher::_strrchr(s, c);
    if ((first == nullptr) != (last == nullptr)) ::abort();
    if (!first) continue;
    size_t length = std::strlen(s);
    if (first < s || last < first || last >= s + length) ::abort();
    if (*first != c || *last != c) ::abort();
    if (!launcher::IsMultiByteChar(s, static_cast<size_t>(first - s)) ||
        !launcher::IsMultiByteChar(s, static_cast<size_t>(last - s))) {
      ::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::unsetenv("DISPLAY");
  launcher::SetProgName("/fuzz/setup");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size && fields.size() <= kMaxWords + 2; ++i) {
    if (data[i] == '\0') {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  fields.resize(std::max<size_t>(fields.size(), 2));
  SetOrUnset(lcAll, fields[0]);
  SetOrUnset(lang, fields[1]);
  CheckTag(launcher::UpdateLocale());

  std::vector<const char*> argv;
  for (size_t i = 2; i < fields.size() && argv.size() < kMaxWords; ++i) {
    CheckSearches(fields[i]);
    argv.push_back(fields[i].c_str());
  }

  launcher::SetPrintToConsole(1);
  launcher::Arguments arguments;
  int status = -1;
  bool goOn = launcher::ParseArguments(static_cast<int>(argv.size()), argv.data(), &arguments,
                                       &status);
  if (!goOn && status != 0 && status != 1) ::abort();
  if (goOn) {
    // What the run goes on with: absolute paths only, and the console switch handed on.
    if (arguments.javaHome && !launcher::IsAbsolutePath(arguments.javaHome->c_str())) ::abort();
    if (arguments.console &&
        (arguments.javaArgs.empty() || arguments.javaArgs.front() != "-nodisplay")) {
      ::abort();
    }
  }
  return 0;
}

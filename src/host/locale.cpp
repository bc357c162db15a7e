#include "host/locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "host/lasting.h"

namespace launcher {
namespace {

Lasting<std::optional<std::string>> locale;  // the cached tag
char terminalCodeset[64] = "";

// setlocale for every category, falling back to "C" so the process always has a locale.
std::string SetProcessLocale(const char* name) {
  const char* result = std::setlocale(LC_ALL, name);
  if (!result) result = std::setlocale(LC_ALL, "C");
  return result ? result : "C";
}

void CutAtFirst(std::string& name, const char* marker) {
  std::string::size_type at = name.find(marker);
  if (at != std::string::npos) name.resize(at);
}

// Plain byte searches: the tag is computed before the multibyte searches may be used.
// start is the locale name to set first: "" for the environment's.
std::string ComputeTag(const char* start) {
  const char* language = "en";
  const char* country = nullptr;
  const char* variant = nullptr;

  std::string name = SetProcessLocale(start);
  if (*start == '\0') {
    std::snprintf(terminalCodeset, sizeof terminalCodeset, "%s", nl_langinfo(CODESET));
  }
  CutAtFirst(name, ".utf8");
  CutAtFirst(name, ".UTF-8");
  name = SetProcessLocale(name.c_str());
  CutAtFirst(name, "@euro");
  name = SetProcessLocale(name.c_str());

  std::string::size_type at = name.rfind('@');
  if (at != std::string::npos) {
    MapLookup(variant_names, name.c_str() + at + 1, &variant);
    name.resize(at);
  }
  at = name.rfind('.');
  if (at != std::string::npos) name.resize(at);

  const char* alias = nullptr;
  if (MapLookup(locale_aliases, name.c_str(), &alias)) name = alias;

  at = name.rfind('_');
  if (at != std::string::npos) {
    MapLookup(country_names, name.c_str() + at + 1, &country);
    name.resize(at);
  }
  MapLookup(language_names, name.c_str(), &language);

  std::string tag = language;
  if (country) tag.append("_").append(country);
  if (variant) tag.append(country ? "_" : "__").append(variant);
  return tag;
}

// Length of the character at s (at most remaining bytes); a byte that is invalid or
// begins a truncated sequence counts as one character so that searches resynchronise.
std::size_t CharLength(const char* s, std::size_t remaining, std::mbstate_t* state) {
  std::size_t length = std::mbrlen(s, remaining, state);
  if (length == 0 || length > remaining) {
    *state = std::mbstate_t{};
    return 1;
  }
  return length;
}

}  // namespace

const char* GetLocale() {
  if (!*locale) *locale = ComputeTag("");
  return HandOut(*locale);
}

const char* UpdateLocale() {
  // Starting again from the environment would bring back the locale that the toolkit
  // just refused, with texts it then cannot convert; the current one is kept instead.
  *locale = ComputeTag(SetProcessLocale(nullptr).c_str());
  return HandOut(*locale);
}

const char* GetTerminalCodeset() {
  GetLocale();
  return terminalCodeset;
}

int MapLookup(const char* const* table, const char* key, const char** value) {
  for (; table[0][0] != '\0'; table += 2) {
    if (std::strcmp(table[0], key) == 0) {
      *value = table[1];
      return 1;
    }
  }
  return 0;
}

int IsMultiByteChar(const char* s, std::size_t index) {
  if (index == 0) return 1;
  if (!s) return 0;
  GetLocale();
  const std::size_t length = std::strlen(s);
  if (index > length) return 0;
  if (MB_CUR_MAX == 1) return 1;
  std::mbstate_t state{};
  std::size_t pos = 0;
  while (pos < index) pos += CharLength(s + pos, length - pos, &state);
  return pos == index;
}

long FindCharacterStart(const char* s, int c, bool forward) {
  if (!s || !*s) return -1;
  GetLocale();
  const char wanted = static_cast<char>(c);
  const std::size_t length = std::strlen(s);
  if (MB_CUR_MAX == 1) {
    const void* hit = forward ? std::memchr(s, wanted, length) : std::strrchr(s, wanted);
    return hit ? static_cast<const char*>(hit) - s : -1;
  }
  long found = -1;
  std::mbstate_t state{};
  for (std::size_t pos = 0; pos < length; pos += CharLength(s + pos, length - pos, &state)) {
    if (s[pos] != wanted) continue;
    found = static_cast<long>(pos);
    if (forward) break;
  }
  return found;
}

}  // namespace launcher

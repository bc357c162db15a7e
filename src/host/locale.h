// The process locale, the locale tag derived from it, and multibyte-aware searches.
// It lives with the host services because path splitting everywhere depends on it.
#pragma once

#include <concepts>
#include <cstddef>
#include <type_traits>

namespace launcher {

// Key/value tables ended by an empty key, used to turn a locale name into a tag.
extern const char* const locale_aliases[];
extern const char* const language_names[];
extern const char* const country_names[];
extern const char* const variant_names[];

// The cached locale tag ("en", "es_ES", "ja_JP", ...); the first call sets the process
// locale from the environment. The string stays owned here.
const char* GetLocale();

// Frees the cached tag and computes it again from the process's current locale (after the
// toolkit's fallback to "C", the tag is "en").
const char* UpdateLocale();

// The codeset of the locale that the environment named ("UTF-8" for es_ES.UTF-8), taken
// before the process locale is cut to its legacy base: what the terminal expects.
const char* GetTerminalCodeset();

// Looks key up in a table of NUL-terminated key/value pairs ended by an empty key;
// 1 and *value set on a match, 0 and *value untouched otherwise.
int MapLookup(const char* const* table, const char* key, const char** value);

// 1 when the byte at index begins a character of the current locale's encoding; a byte
// that is not valid in the encoding counts as a character of its own.
int IsMultiByteChar(const char* s, std::size_t index);

// Index of the first (forward) or last (!forward) character start of s holding byte c, or
// -1; also -1 for a null or empty s.
long FindCharacterStart(const char* s, int c, bool forward);

// strchr/strrchr that match c only at a character boundary; null for a null or empty s.
// As with the C library's, a const string gives a const result.
template <class Char>
  requires std::same_as<std::remove_const_t<Char>, char>
Char* _strchr(Char* s, int c) {
  long at = FindCharacterStart(s, c, true);
  return at < 0 ? nullptr : s + at;
}

template <class Char>
  requires std::same_as<std::remove_const_t<Char>, char>
Char* _strrchr(Char* s, int c) {
  long at = FindCharacterStart(s, c, false);
  return at < 0 ? nullptr : s + at;
}

}  // namespace launcher

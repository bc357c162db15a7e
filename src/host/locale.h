// The process locale, the locale tag derived from it, and multibyte-aware searches.
// It lives with the host services because path splitting everywhere depends on it.
#pragma once

#include <cstddef>

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

// strchr/strrchr that match c only at a character boundary; null for a null or empty s.
const char* _strchr(const char* s, int c);
char* _strchr(char* s, int c);
const char* _strrchr(const char* s, int c);
char* _strrchr(char* s, int c);

}  // namespace launcher

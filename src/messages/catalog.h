// The message catalog (English, Spanish, Japanese) and its lookup.
#pragma once

#include <string>

namespace launcher {

// The text of key in the language that the locale tag selects, falling back to English,
// converted to the locale's codeset.
// Never fails: an unknown key, or a text the codeset cannot hold, gives "".
std::string GetLocalizedMessage(const char* key);

// The raw UTF-8 catalog text stored under an entry name such as "messages_es_ok", or null.
const char* FindCatalogEntry(const char* entryName);

}  // namespace launcher

// Message lookup: entry names tried from the full locale tag down to plain English.
#include "messages/catalog.h"

#include <langinfo.h>

#include <cstring>
#include <string>

#include "host/locale.h"
#include "messages/catalog_tables.h"
#include "messages/convert.h"

namespace launcher {

const char* FindCatalogEntry(const char* entryName) {
  if (entryName == nullptr) return nullptr;
  for (std::span<const CatalogEntry> table :
       {EnglishCatalog(), SpanishCatalog(), JapaneseCatalog()}) {
    for (const CatalogEntry& entry : table) {
      if (std::strcmp(entry.name, entryName) == 0) return entry.text;
    }
  }
  return nullptr;
}

std::string GetLocalizedMessage(const char* key) {
  if (key == nullptr) return {};
  // GetLocale comes first: it sets the process locale whose codeset the text is converted to.
  const char* locale = GetLocale();
  std::string tag = locale != nullptr ? locale : "";
  for (;;) {
    std::string name = "messages";
    if (!tag.empty()) {
      name += '_';
      name += tag;
    }
    name += '_';
    name += key;
    if (const char* text = FindCatalogEntry(name.c_str())) {
      return ConvertFromUtf8(text, nl_langinfo(CODESET));
    }
    if (tag.empty()) return {};
    // es_ES -> es -> (English); no catalog entry carries a country.
    const char* cut = _strrchr(tag.c_str(), '_');
    tag.resize(cut != nullptr ? static_cast<std::size_t>(cut - tag.c_str()) : 0);
  }
}

}  // namespace launcher

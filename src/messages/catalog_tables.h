// The built-in catalog tables, one per language, read only by the catalog lookup and tests.
#pragma once

#include <span>

namespace launcher {

// One catalog entry: its full entry name (messages_<key>, messages_es_<key>, ...) and
// its constant UTF-8 text.
struct CatalogEntry {
  const char* name;
  const char* text;
};

std::span<const CatalogEntry> EnglishCatalog();
std::span<const CatalogEntry> SpanishCatalog();
std::span<const CatalogEntry> JapaneseCatalog();

}  // namespace launcher

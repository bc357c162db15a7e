// Conversion of catalog texts from UTF-8 into a locale's codeset.
#pragma once

#include <string>

namespace launcher {

// utf8 converted to codeset; an unchanged copy when codeset is null or has no converter,
// and "" when the text holds a character that codeset cannot represent.
std::string ConvertFromUtf8(const char* utf8, const char* codeset);

// text, in the process locale's codeset, converted to the terminal's (GetTerminalCodeset);
// unchanged when the two are the same or when text does not convert.
std::string ForTerminal(const std::string& text);

}  // namespace launcher

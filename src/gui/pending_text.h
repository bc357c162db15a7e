// The formatting shared by the status window and the message boxes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace launcher {

// Formats the caller's text after `pending` (text that did not yet end a line), which is
// consumed; `formatted` receives the length of the new text alone.
std::string FormatAfterPending(std::string& pending, int& formatted, const char* format,
                               va_list args) __attribute__((format(printf, 3, 0)));

// 1 when the text ends in a line feed, the only texts that are shown.
bool EndsLine(const std::string& text);

// Writes the text (never as a format) in the terminal's codeset; the bytes written.
int WriteText(FILE* stream, const std::string& text);

}  // namespace launcher

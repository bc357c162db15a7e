// Output routing: status lines and errors go to the terminal or to the toolkit windows.
#pragma once

#include <cstdarg>
#include <cstdio>

#define LAUNCHER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace launcher {

// 1 while output goes to the terminal (the initial state), 0 while it goes to windows.
int GetPrintToConsole();
void SetPrintToConsole(char flag);

// What a text is, for the windows that show it.
enum class OutputKind : char { kError = 1, kInformation = 2, kStatus = 3 };

// The window route of output; messages knows only this type, so the toolkit, which sits
// above it, registers its route when it starts rather than being called by name.
using OutputSink = int (*)(OutputKind kind, const char* format, va_list args);
// Null: the terminal, whatever GetPrintToConsole says.
void SetOutputSink(OutputSink sink);

// Information text: standard output (flushed) or an information box.
int _printf(const char* format, ...) LAUNCHER_PRINTF(1, 2);
// Error or notice: the stream (flushed) or a message box (error box for stderr).
int _fprintf(FILE* stream, const char* format, ...) LAUNCHER_PRINTF(2, 3);
// Progress line: standard output (not flushed) or the status window; 0 for a null format.
int statusf(const char* format, ...) LAUNCHER_PRINTF(1, 2);

int _vprintf(const char* format, va_list args) LAUNCHER_PRINTF(1, 0);
int _vfprintf(FILE* stream, const char* format, va_list args) LAUNCHER_PRINTF(2, 0);
int vstatusf(const char* format, va_list args) LAUNCHER_PRINTF(1, 0);

// Fetch the catalog text of key and print it, with the arguments, as a status line
// (statusf) or as an error on standard error (_fprintf).
int StatusMessage(const char* key, ...);
int ErrorMessage(const char* key, ...);

}  // namespace launcher

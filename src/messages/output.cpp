// Output routing between the terminal and the toolkit windows.
#include "messages/output.h"

#include <atomic>
#include <string>

#include "messages/catalog.h"
#include "messages/convert.h"

namespace launcher {

namespace {

// Written by the toolkit's error handlers on whichever thread is inside the toolkit, hence
// atomic; a stale read can only send one more text to the terminal.
std::atomic<bool> printToConsole{true};

std::atomic<OutputSink> windows{nullptr};

// The window route, or null when this text goes to the terminal.
OutputSink Windows() {
  if (printToConsole.load(std::memory_order_relaxed)) return nullptr;
  return windows.load(std::memory_order_relaxed);
}

// The terminal route: the text that vfprintf would print, in the terminal's codeset (the
// process locale may have been cut to a legacy one that the windows need).
int PrintToTerminal(FILE* stream, const char* format, va_list args) LAUNCHER_PRINTF(2, 0);
int PrintToTerminal(FILE* stream, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int count = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (count < 0) return count;
  std::string text(static_cast<std::size_t>(count) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  text = ForTerminal(text);
  return static_cast<int>(std::fwrite(text.data(), 1, text.size(), stream));
}

}  // namespace

int GetPrintToConsole() { return printToConsole.load(std::memory_order_relaxed) ? 1 : 0; }

void SetPrintToConsole(char flag) {
  printToConsole.store(flag != 0, std::memory_order_relaxed);
}

void SetOutputSink(OutputSink sink) { windows.store(sink, std::memory_order_relaxed); }

int _vprintf(const char* format, va_list args) {
  if (format == nullptr) return 0;
  OutputSink sink = Windows();
  int count = sink ? sink(OutputKind::kInformation, format, args)
                   : PrintToTerminal(stdout, format, args);
  std::fflush(stdout);
  return count;
}

int _vfprintf(FILE* stream, const char* format, va_list args) {
  if (stream == nullptr || format == nullptr) return 0;
  OutputSink sink = Windows();
  OutputKind kind = stream == stderr ? OutputKind::kError : OutputKind::kInformation;
  int count = sink ? sink(kind, format, args) : PrintToTerminal(stream, format, args);
  std::fflush(stream);
  return count;
}

int vstatusf(const char* format, va_list args) {
  if (format == nullptr) return 0;
  // Progress lines are never flushed here; the launcher flushes before it forks.
  OutputSink sink = Windows();
  return sink ? sink(OutputKind::kStatus, format, args) : PrintToTerminal(stdout, format, args);
}

int _printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = _vprintf(format, args);
  va_end(args);
  return count;
}

int _fprintf(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = _vfprintf(stream, format, args);
  va_end(args);
  return count;
}

int statusf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = vstatusf(format, args);
  va_end(args);
  return count;
}

// These two print catalog texts, which can't be checked at compile time; the catalog's own
// tests keep every conversion in them a plain %s.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

int StatusMessage(const char* key, ...) {
  std::string text = GetLocalizedMessage(key);
  va_list args;
  va_start(args, key);
  int count = vstatusf(text.c_str(), args);
  va_end(args);
  return count;
}

int ErrorMessage(const char* key, ...) {
  std::string text = GetLocalizedMessage(key);
  va_list args;
  va_start(args, key);
  int count = _vfprintf(stderr, text.c_str(), args);
  va_end(args);
  return count;
}

#pragma GCC diagnostic pop

}  // namespace launcher

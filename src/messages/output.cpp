// Output routing between the terminal and the toolkit windows.
#include "messages/output.h"

#include <atomic>
#include <string>

#include "messages/catalog.h"

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

}  // namespace

int GetPrintToConsole() { return printToConsole.load(std::memory_order_relaxed) ? 1 : 0; }

void SetPrintToConsole(char flag) {
  printToConsole.store(flag != 0, std::memory_order_relaxed);
}

void SetOutputSink(OutputSink sink) { windows.store(sink, std::memory_order_relaxed); }

int _vprintf(const char* format, va_list args) {
  if (format == nullptr) return 0;
  OutputSink sink = Windows();
  int count = sink ? sink(OutputKind::kInformation, format, args) : std::vprintf(format, args);
  std::fflush(stdout);
  return count;
}

int _vfprintf(FILE* stream, const char* format, va_list args) {
  if (stream == nullptr || format == nullptr) return 0;
  OutputSink sink = Windows();
  OutputKind kind = stream == stderr ? OutputKind::kError : OutputKind::kInformation;
  int count = sink ? sink(kind, format, args) : std::vfprintf(stream, format, args);
  std::fflush(stream);
  return count;
}

int vstatusf(const char* format, va_list args) {
  if (format == nullptr) return 0;
  // Progress lines are never flushed here; the launcher flushes before it forks.
  OutputSink sink = Windows();
  return sink ? sink(OutputKind::kStatus, format, args) : std::vprintf(format, args);
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

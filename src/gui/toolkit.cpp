// Until the toolkit is loaded at run time, every text takes the terminal route.
#include "gui/toolkit.h"

#include <cstdio>

#include "messages/output.h"

namespace launcher {

X11Functions* LoadX11(bool) {
  SetPrintToConsole(1);
  return nullptr;
}

int PrintToStatusWindow(const char* format, va_list args) { return std::vprintf(format, args); }

void HideStatusWindow() {}

int PrintToMessageBox(char, const char* format, va_list args) {
  return std::vfprintf(stderr, format, args);
}

}  // namespace launcher

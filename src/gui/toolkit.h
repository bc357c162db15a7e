// The X toolkit, loaded at run time: status window and message boxes.
#pragma once

#include <cstdarg>

#include "messages/output.h"

namespace launcher {

// Table of toolkit entry points; opaque outside the gui subsystem.
struct X11Functions;

// Loads and starts the toolkit on first use; the table while it runs, null when it can't
// be used (console output has then been turned on).
X11Functions* LoadX11(bool start);

// Shows a formatted line in the status window (or stdout when the toolkit fails).
int PrintToStatusWindow(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Hides the status window, if any.
void HideStatusWindow();

// Shows a formatted text in a modal box: an information box, or an error box for any other
// kind.
int PrintToMessageBox(OutputKind kind, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

}  // namespace launcher

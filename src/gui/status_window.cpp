// The status window: the latest complete progress line in a small centred dialog.
#include <cstdint>
#include <cstdio>
#include <string>

#include "gui/pending_text.h"
#include "gui/toolkit.h"
#include "gui/toolkit_state.h"
#include "gui/x11_api.h"
#include "host/lasting.h"
#include "messages/profile.h"

namespace launcher {
namespace {

// Status text that did not yet end a line; put in front of the next status text.
Lasting<std::string> cachedmessage;

x11::XtArgVal Value(const void* pointer) { return reinterpret_cast<x11::XtArgVal>(pointer); }

// A template dialog without buttons, decorations or window-manager functions.
x11::Widget CreateStatusDialog(X11Functions* x, x11::XmString title) {
  x11::Arg resources[] = {
      {"dialogTitle", Value(title)},
      {"mwmDecorations", 0},
      {"mwmFunctions", 0},
      {"width", 400},
      {"height", 100},
      {"resizePolicy", 1},     // grow only
      {"messageAlignment", 1}, // centred
      {"dialogStyle", 0},      // modeless
  };
  x11::Widget dialog = x->XmCreateTemplateDialog(appshell, "Status", resources, 8);
  if (dialog == nullptr) return nullptr;
  if (x11::Widget separator = x->XmMessageBoxGetChild(dialog, x11::kDialogSeparator)) {
    x->XtUnmanageChild(separator);
  }
  return dialog;
}

}  // namespace

int PrintToStatusWindow(const char* format, va_list args) {
  int formatted = 0;
  std::string text = FormatAfterPending(*cachedmessage, formatted, format, args);
  ToolkitLock toolkit;
  X11Functions* x = toolkit.get();
  if (x == nullptr) return WriteText(stdout, text);

  x11::XmString title = nullptr;
  x11::XmString message = nullptr;
  bool failed = false;
  int result = formatted;
  if (statusdialog == nullptr) {
    title = x->XmStringCreateLtoR(GetTitle(), x11::kDefaultFontTag);
    if (title != nullptr) statusdialog = CreateStatusDialog(x, title);
    failed = statusdialog == nullptr;
  }
  if (!failed && !EndsLine(text)) {
    *cachedmessage = std::move(text);
    result = 0;
  } else if (!failed) {
    // Inner line feeds become line breaks; the final one is dropped.
    std::string line = text.substr(0, text.size() - 1);
    message = x->XmStringCreateLtoR(line.c_str(), x11::kDefaultFontTag);
    if (message != nullptr) {
      x->XtVaSetValues(statusdialog, "messageString", Value(message),
                       static_cast<const char*>(nullptr));
      CenterAndManageChild(statusdialog);
    }
    failed = message == nullptr;
  }
  if (failed) result = WriteText(stdout, text);
  // The dialog keeps its own copies of compound strings.
  if (title != nullptr) x->XmStringFree(title);
  if (message != nullptr) x->XmStringFree(message);
  return result;
}

void HideStatusWindow() {
  {
    ToolkitLock toolkit;
    if (X11Functions* x = toolkit.get(); x != nullptr && statusdialog != nullptr) {
      x->XtUnmanageChild(statusdialog);
      x->XtDestroyWidget(statusdialog);
    }
  }
  statusdialog = nullptr;
}

void CenterAndManageChild(x11::Widget widget) {
  ToolkitLock toolkit;
  X11Functions* x = toolkit.get();
  if (x == nullptr) return;
  const x11::Screen* screen = x->XtScreenOfObject(widget);
  const auto screenWidth = static_cast<std::uint16_t>(screen != nullptr ? screen->width : 0);
  const auto screenHeight = static_cast<std::uint16_t>(screen != nullptr ? screen->height : 0);
  if (!x->XtIsManaged(widget)) {
    x->XtManageChild(widget);
  } else {
    x->XRaiseWindow(display, x->XtWindowOfObject(widget));
  }
  x11::Dimension width = 0;
  x11::Dimension height = 0;
  x11::Arg size[] = {{"width", Value(&width)}, {"height", Value(&height)}};
  x->XtGetValues(widget, size, 2);
  const auto left = static_cast<x11::Position>(screenWidth > width ? (screenWidth - width) / 2 : 0);
  const auto top = static_cast<x11::Position>(screenHeight > height ? (screenHeight - height) / 2 : 0);
  x->XtVaSetValues(widget, "x", x11::XtArgVal{left}, "y", x11::XtArgVal{top},
                   static_cast<const char*>(nullptr));
}

}  // namespace launcher

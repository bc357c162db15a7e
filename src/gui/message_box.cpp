// Modal message boxes with a single OK button; the caller waits until the box is dismissed.
#include <cstdio>
#include <string>

#include "gui/pending_text.h"
#include "gui/toolkit.h"
#include "gui/toolkit_state.h"
#include "gui/x11_api.h"
#include "host/lasting.h"
#include "messages/catalog.h"
#include "messages/profile.h"

namespace launcher {
namespace {

// Message box text that did not yet end a line; put in front of the next box's text.
Lasting<std::string> cachedmessage;

x11::XtArgVal Value(const void* pointer) { return reinterpret_cast<x11::XtArgVal>(pointer); }

x11::Widget CreateBox(X11Functions* x, OutputKind kind, x11::XmString title, x11::XmString message,
                      x11::XmString okLabel) {
  x11::Arg resources[] = {
      {"dialogTitle", Value(title)},
      {"messageString", Value(message)},
      {"defaultButtonType", 4},  // the OK button
      {"dialogStyle", 1},        // primary application modal
      {"mwmDecorations", 101},   // all but resize handles, minimize and maximize
      {"mwmFunctions", 27},      // all but resize, minimize and maximize
      {"okLabelString", Value(okLabel)},
  };
  x11::Widget box = kind == OutputKind::kInformation
                        ? x->XmCreateInformationDialog(appshell, "Information", resources, 7)
                        : x->XmCreateErrorDialog(appshell, "Error", resources, 7);
  if (box == nullptr) return nullptr;
  for (unsigned char child : {x11::kDialogCancelButton, x11::kDialogHelpButton}) {
    if (x11::Widget button = x->XmMessageBoxGetChild(box, child)) x->XtUnmanageChild(button);
  }
  return box;
}

}  // namespace

int PrintToMessageBox(OutputKind kind, const char* format, va_list args) {
  int formatted = 0;
  std::string text = FormatAfterPending(*cachedmessage, formatted, format, args);
  ToolkitLock toolkit;
  X11Functions* x = toolkit.get();
  if (x == nullptr) return WriteText(stderr, text);

  std::string okText = GetLocalizedMessage("ok");
  if (!EndsLine(text)) {
    *cachedmessage = std::move(text);
    return formatted;
  }
  std::string body = text.substr(0, text.size() - 1);
  x11::XmString title = x->XmStringCreateLtoR(GetTitle(), x11::kDefaultFontTag);
  x11::XmString message =
      title != nullptr ? x->XmStringCreateLtoR(body.c_str(), x11::kDefaultFontTag) : nullptr;
  x11::XmString okLabel =
      message != nullptr ? x->XmStringCreateLtoR(okText.c_str(), x11::kDefaultFontTag) : nullptr;
  x11::Widget box = okLabel != nullptr ? CreateBox(x, kind, title, message, okLabel) : nullptr;
  bool shown = box != nullptr && appcontext != nullptr;
  if (box != nullptr) CenterAndManageChild(box);
  if (shown) {
    // `lock` stays held: the dispatch thread waits, and this loop handles every event
    // until OK unmanages the box.
    while (x->XtIsManaged(box)) {
      x11::Event event;
      x->XtAppNextEvent(appcontext, &event);
      x->XtDispatchEvent(&event);
    }
  }
  int result = formatted;
  if (!shown) {
    result = WriteText(stdout, text);
    // An error text must not sit in a buffer that a signal exit would drop.
    std::fflush(stdout);
  }
  if (title != nullptr) x->XmStringFree(title);
  if (message != nullptr) x->XmStringFree(message);
  if (okLabel != nullptr) x->XmStringFree(okLabel);
  if (box != nullptr) x->XtDestroyWidget(box);
  return result;
}

}  // namespace launcher

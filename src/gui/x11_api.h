// The few X11, Xt and Motif types and entry points the launcher uses, declared here because
// the toolkit is loaded at run time and no X development headers are needed to build.
#pragma once

#include <cstdint>

namespace launcher::x11 {

// Opaque toolkit objects, only ever handled through pointers.
struct DisplayRec;
struct WidgetRec;
struct AppContextRec;
struct XmStringRec;
struct ErrorEvent;

using Display = DisplayRec;
using Widget = WidgetRec*;
using XtAppContext = AppContextRec*;
using XmString = XmStringRec*;
using Window = unsigned long;  // XID
using Cardinal = unsigned int;
using Boolean = unsigned char;
using XtArgVal = long;
using Dimension = std::uint16_t;
using Position = std::int16_t;

// Leading fields of Xlib's Screen; only the size is read, the rest is never touched.
struct Screen {
  void* extData;
  Display* display;
  Window root;
  int width;
  int height;
};

// Xlib's XEvent is a union padded to 24 longs; Xt only needs storage of that size.
union Event {
  int type;
  long pad[24];
};

struct Arg {
  const char* name;
  XtArgVal value;
};

using XErrorHandler = int (*)(Display*, ErrorEvent*);
using XIOErrorHandler = int (*)(Display*);
using XtErrorHandler = void (*)(char*);

// Child codes of XmMessageBoxGetChild.
constexpr unsigned char kDialogCancelButton = 2;
constexpr unsigned char kDialogHelpButton = 7;
constexpr unsigned char kDialogSeparator = 14;

// Tag of the default font list entry.
inline constexpr char kDefaultFontTag[] = "FONTLIST_DEFAULT_TAG_STRING";

}  // namespace launcher::x11

namespace launcher {

// The entry points, in the order they are resolved; every slot is filled before use.
struct X11Functions {
  int (*XCloseDisplay)(x11::Display*);
  x11::Display* (*XOpenDisplay)(const char*);
  int (*XRaiseWindow)(x11::Display*, x11::Window);
  x11::XErrorHandler (*XSetErrorHandler)(x11::XErrorHandler);
  x11::XIOErrorHandler (*XSetIOErrorHandler)(x11::XIOErrorHandler);
  char* (*XSetLocaleModifiers)(const char*);
  int (*XSupportsLocale)();
  x11::Widget (*XmCreateErrorDialog)(x11::Widget, const char*, x11::Arg*, x11::Cardinal);
  x11::Widget (*XmCreateInformationDialog)(x11::Widget, const char*, x11::Arg*, x11::Cardinal);
  x11::Widget (*XmCreateTemplateDialog)(x11::Widget, const char*, x11::Arg*, x11::Cardinal);
  x11::Widget (*XmMessageBoxGetChild)(x11::Widget, unsigned char);
  x11::XmString (*XmStringCreateLtoR)(const char*, const char*);
  void (*XmStringFree)(x11::XmString);
  void (*XtAppNextEvent)(x11::XtAppContext, x11::Event*);
  unsigned long (*XtAppPending)(x11::XtAppContext);
  x11::XtErrorHandler (*XtAppSetErrorHandler)(x11::XtAppContext, x11::XtErrorHandler);
  x11::XtErrorHandler (*XtAppSetWarningHandler)(x11::XtAppContext, x11::XtErrorHandler);
  void (*XtDestroyWidget)(x11::Widget);
  x11::Boolean (*XtDispatchEvent)(x11::Event*);
  void (*XtGetValues)(x11::Widget, x11::Arg*, x11::Cardinal);
  x11::Boolean (*XtIsManaged)(x11::Widget);
  void (*XtManageChild)(x11::Widget);
  void (*XtRealizeWidget)(x11::Widget);
  x11::Screen* (*XtScreenOfObject)(x11::Widget);
  void (*XtUnmanageChild)(x11::Widget);
  // Variadic: name/value pairs ended by a null name.
  x11::Widget (*XtVaAppInitialize)(x11::XtAppContext*, const char*, void*, x11::Cardinal, int*,
                                   char**, char**, ...);
  void (*XtVaSetValues)(x11::Widget, ...);
  x11::Window (*XtWindowOfObject)(x11::Widget);
};

}  // namespace launcher

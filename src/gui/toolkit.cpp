// Loading the Motif library at run time, starting the toolkit, and undoing a failed start.
#include "gui/toolkit.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <clocale>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "gui/toolkit_state.h"
#include "gui/x11_api.h"
#include "host/locale.h"
#include "host/process.h"
#include "messages/output.h"
#include "messages/profile.h"

namespace launcher {

void* libgui = nullptr;
X11Functions* x11funcs = nullptr;
x11::Display* display = nullptr;
x11::XtAppContext appcontext = nullptr;
x11::Widget appshell = nullptr;
x11::Widget statusdialog = nullptr;
std::atomic<bool> dispatch{false};
std::atomic<bool> xtfailed{false};
pthread_mutex_t lock;

namespace {

pthread_mutexattr_t lockattributes;
pthread_t dispatchThread;
bool dispatchThreadStarted = false;
// Static storage rather than the heap: the dispatch thread may still read the table while
// static destructors run at exit.
X11Functions table;

// The X11 and Xt symbols come in through the Motif library's own dependencies.
constexpr const char* kLibraryNames[] = {
    "/usr/dt/lib/libXm.so.4", "libXm.so.4", "/usr/dt/lib/libXm.so.3", "libXm.so.3",
    "/usr/dt/lib/libXm.so.2", "libXm.so.2", "/usr/dt/lib/libXm.so.1", "libXm.so.1",
    "/usr/dt/lib/libXm.so",   "libXm.so",
};

struct EntryPoint {
  const char* name;
  std::size_t offset;
};

#define LAUNCHER_ENTRY(name) EntryPoint{#name, offsetof(X11Functions, name)}
constexpr EntryPoint kEntryPoints[] = {
    LAUNCHER_ENTRY(XCloseDisplay),          LAUNCHER_ENTRY(XOpenDisplay),
    LAUNCHER_ENTRY(XRaiseWindow),           LAUNCHER_ENTRY(XSetErrorHandler),
    LAUNCHER_ENTRY(XSetIOErrorHandler),     LAUNCHER_ENTRY(XSetLocaleModifiers),
    LAUNCHER_ENTRY(XSupportsLocale),        LAUNCHER_ENTRY(XmCreateErrorDialog),
    LAUNCHER_ENTRY(XmCreateInformationDialog), LAUNCHER_ENTRY(XmCreateTemplateDialog),
    LAUNCHER_ENTRY(XmMessageBoxGetChild),   LAUNCHER_ENTRY(XmStringCreateLtoR),
    LAUNCHER_ENTRY(XmStringFree),           LAUNCHER_ENTRY(XtAppNextEvent),
    LAUNCHER_ENTRY(XtAppPending),           LAUNCHER_ENTRY(XtAppSetErrorHandler),
    LAUNCHER_ENTRY(XtAppSetWarningHandler), LAUNCHER_ENTRY(XtDestroyWidget),
    LAUNCHER_ENTRY(XtDispatchEvent),        LAUNCHER_ENTRY(XtGetValues),
    LAUNCHER_ENTRY(XtIsManaged),            LAUNCHER_ENTRY(XtManageChild),
    LAUNCHER_ENTRY(XtRealizeWidget),        LAUNCHER_ENTRY(XtScreenOfObject),
    LAUNCHER_ENTRY(XtUnmanageChild),        LAUNCHER_ENTRY(XtVaAppInitialize),
    LAUNCHER_ENTRY(XtVaSetValues),          LAUNCHER_ENTRY(XtWindowOfObject),
};
#undef LAUNCHER_ENTRY

// The names are resolved in slot order, so the list and the struct must agree.
constexpr bool EntryPointsFollowSlots() {
  for (std::size_t i = 0; i < std::size(kEntryPoints); ++i) {
    if (kEntryPoints[i].offset != i * sizeof(void*)) return false;
  }
  return true;
}
static_assert(std::size(kEntryPoints) == 28);
static_assert(sizeof(X11Functions) == 28 * sizeof(void*));
static_assert(EntryPointsFollowSlots());

bool OpenLibrary() {
  for (const char* name : kLibraryNames) {
    libgui = ::dlopen(name, RTLD_NOW | RTLD_GLOBAL);
    if (libgui != nullptr) return true;
  }
  return false;
}

bool ResolveEntryPoints() {
  table = X11Functions{};
  x11funcs = &table;
  for (const EntryPoint& entry : kEntryPoints) {
    void* symbol = ::dlsym(libgui, entry.name);
    if (symbol == nullptr) return false;
    // Function and object pointers share one representation on every POSIX system.
    std::memcpy(reinterpret_cast<char*>(&table) + entry.offset, &symbol, sizeof symbol);
  }
  return true;
}

// Opens the display, installs the handlers and creates the realized, never mapped shell.
bool StartToolkit() {
  X11Functions* x = x11funcs;
  display = x->XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  x->XSetErrorHandler(HandleX11Error);
  x->XSetIOErrorHandler(HandleX11IOError);
  if (!x->XSupportsLocale()) {
    std::setlocale(LC_ALL, "C");
    UpdateLocale();
  }
  x->XSetLocaleModifiers("");
  int argc = 0;
  appshell = x->XtVaAppInitialize(&appcontext, GetTitle(), nullptr, 0, &argc, nullptr, nullptr,
                                  static_cast<const char*>(nullptr));
  if (appshell == nullptr || appcontext == nullptr) return false;
  x->XtVaSetValues(appshell, "mappedWhenManaged", x11::XtArgVal{0},
                   static_cast<const char*>(nullptr));
  x->XtAppSetErrorHandler(appcontext, HandleXtError);
  x->XtAppSetWarningHandler(appcontext, HandleX11Warning);
  x->XtRealizeWidget(appshell);
  return true;
}

bool CreateLock() {
  if (dispatch) return true;
  if (::pthread_mutexattr_init(&lockattributes) != 0) return false;
  if (::pthread_mutexattr_settype(&lockattributes, PTHREAD_MUTEX_RECURSIVE) != 0 ||
      ::pthread_mutex_init(&lock, &lockattributes) != 0) {
    ::pthread_mutexattr_destroy(&lockattributes);
    return false;
  }
  dispatch = true;
  return true;
}

bool StartDispatchThread() {
  int started;
  {
    SignalMask blocked(Held::kAllButFaults);
    started = ::pthread_create(&dispatchThread, nullptr, DispatchX11Events, nullptr);
  }
  if (started != 0) return false;
  dispatchThreadStarted = true;
  int policy = 0;
  sched_param parameters{};
  if (::pthread_getschedparam(dispatchThread, &policy, &parameters) != 0) return false;
  int highest = ::sched_get_priority_max(policy);
  if (highest == -1) return false;
  parameters.sched_priority = highest;
  return ::pthread_setschedparam(dispatchThread, policy, &parameters) == 0;
}

// The window route of output, handed to messages once the toolkit runs.
int PrintToWindows(OutputKind kind, const char* format, va_list args) {
  return kind == OutputKind::kStatus ? PrintToStatusWindow(format, args)
                                     : PrintToMessageBox(kind, format, args);
}

// Undoes every step that succeeded, leaving the process as if no load had been tried.
void UndoStart() {
  SetPrintToConsole(1);
  if (dispatch) {
    dispatch = false;
    if (dispatchThreadStarted) {
      ::pthread_join(dispatchThread, nullptr);
      dispatchThreadStarted = false;
    }
    ::pthread_mutex_destroy(&lock);
    ::pthread_mutexattr_destroy(&lockattributes);
  }
  if (x11funcs != nullptr) {
    if (appshell != nullptr) {
      // The shell's own connection was opened by Xt; close it too before the library goes.
      x11::Display* shellDisplay = x11funcs->XtScreenOfObject(appshell)->display;
      x11funcs->XtDestroyWidget(appshell);
      if (shellDisplay != nullptr && shellDisplay != display) {
        x11funcs->XCloseDisplay(shellDisplay);
      }
    }
    if (display != nullptr) {
      x11funcs->XCloseDisplay(display);
      display = nullptr;
    }
    table = X11Functions{};
    x11funcs = nullptr;
  }
  appcontext = nullptr;
  appshell = nullptr;
  statusdialog = nullptr;
  if (libgui != nullptr) {
    ::dlclose(libgui);
    libgui = nullptr;
  }
}

}  // namespace

X11Functions* LoadX11(bool start) {
  static bool loadingx11 = false;
  static bool nox11 = false;
  if (loadingx11) return nullptr;
  loadingx11 = true;
  if (nox11) {
    loadingx11 = false;
    return nullptr;
  }
  bool ok = true;
  if (libgui == nullptr && !OpenLibrary()) {
    nox11 = true;
    ok = false;
  }
  if (ok && x11funcs == nullptr) ok = ResolveEntryPoints();
  if (ok && appshell != nullptr) {
    loadingx11 = false;
    return x11funcs;
  }
  if (ok && !start) {
    // Loaded but not started: nothing is running that a caller could use.
    loadingx11 = false;
    return nullptr;
  }
  ok = ok && StartToolkit() && CreateLock() && StartDispatchThread();
  if (ok) SetOutputSink(PrintToWindows);
  if (!ok) UndoStart();
  loadingx11 = false;
  return ok ? x11funcs : nullptr;
}

int HandleX11Error(x11::Display*, x11::ErrorEvent*) {
  SetPrintToConsole(1);
  return 0;
}

// Xt's callers are compiled not to expect its error handler to return (libXt falls through
// into other code and the process crashes), so this handler never returns.
void HandleXtError(char* message) {
  SetPrintToConsole(1);
  xtfailed = true;
  if (dispatchThreadStarted && ::pthread_equal(::pthread_self(), dispatchThread)) {
    // The run goes on with terminal output; the dispatch thread lets go of `lock` and stays
    // parked here for good, since unwinding through Xt's frames is not safe either.
    ::pthread_mutex_unlock(&lock);
    for (;;) ::pause();
  }
  // On the thread that runs the launcher nothing can be unwound safely: end the process as
  // Xt itself would, with the reason on the terminal.
  _fprintf(stderr, "X Toolkit Error: %s\n", message != nullptr ? message : "");
  std::exit(1);
}

int HandleX11IOError(x11::Display*) {
  SetPrintToConsole(1);
  return 0;
}

void HandleX11Warning(char*) {}

ToolkitLock::ToolkitLock() {
  X11Functions* funcs = LoadX11(true);
  if (funcs == nullptr || !dispatch) return;
  if (::pthread_mutex_lock(&lock) != 0) return;
  if (xtfailed) {
    ::pthread_mutex_unlock(&lock);
    return;
  }
  funcs_ = funcs;
}

ToolkitLock::~ToolkitLock() {
  if (funcs_ != nullptr) ::pthread_mutex_unlock(&lock);
}

}  // namespace launcher

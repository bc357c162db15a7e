// Process-wide toolkit state shared by the loader, the dispatch thread and the windows.
#pragma once

#include <pthread.h>

#include <atomic>

#include "gui/toolkit.h"
#include "gui/x11_api.h"

namespace launcher {

// The loaded Motif library; deliberately a raw handle: it must outlive static destructors,
// since the dispatch thread runs until the process ends.
extern void* libgui;
extern X11Functions* x11funcs;
extern x11::Display* display;
extern x11::XtAppContext appcontext;
// The invisible shell that parents every dialog; non-null while the toolkit runs.
extern x11::Widget appshell;
extern x11::Widget statusdialog;
// Set while `lock` exists and the dispatch thread should run; read by that thread.
extern std::atomic<bool> dispatch;
// Set after an Xt error: the toolkit's state can no longer be trusted and is never used again.
extern std::atomic<bool> xtfailed;
// Recursive: the window routines call CenterAndManageChild with it already held.
extern pthread_mutex_t lock;

// Drains X events every 100 ms while `dispatch` is set; the dispatch thread's body.
void* DispatchX11Events(void* unused);

// X protocol error handler: turns console output on and returns 0.
int HandleX11Error(x11::Display* display, x11::ErrorEvent* event);
// Xt error handler: turns console output on and, since Xt can't go on, parks the dispatch
// thread for good or, on any other thread, ends the process (status 1, reason on stderr).
[[noreturn]] void HandleXtError(char* message);
// X I/O error handler: turns console output on and returns 0.
int HandleX11IOError(x11::Display* display);
// Xt warning handler: swallows the warning.
void HandleX11Warning(char* message);

// Shows the dialog if unmanaged or raises it if shown, then centres it on its screen.
void CenterAndManageChild(x11::Widget widget);

// The usage protocol of every toolkit user: the table with `lock` held for this object's
// lifetime, or null (lock not taken) when the terminal route must be used.
class ToolkitLock {
 public:
  ToolkitLock();
  ~ToolkitLock();
  ToolkitLock(const ToolkitLock&) = delete;
  ToolkitLock& operator=(const ToolkitLock&) = delete;
  X11Functions* get() const { return funcs_; }

 private:
  X11Functions* funcs_ = nullptr;
};

}  // namespace launcher

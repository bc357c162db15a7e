// The dispatch thread: processes the toolkit's X events in the background.
#include <pthread.h>
#include <time.h>

#include "gui/toolkit_state.h"
#include "gui/x11_api.h"

namespace launcher {
namespace {

// XtAppPending's bit for a queued X event.
constexpr unsigned long kXtIMXEvent = 1;

bool Running() { return dispatch && x11funcs != nullptr && appcontext != nullptr; }

}  // namespace

void* DispatchX11Events(void*) {
  if (!Running()) return nullptr;
  do {
    if (dispatch && ::pthread_mutex_lock(&lock) == 0) {
      // Only X events are taken: when just a timer is due, XtAppNextEvent would run it and
      // then block, holding `lock`, until some X event arrived, stalling every writer.
      while (x11funcs->XtAppPending(appcontext) & kXtIMXEvent) {
        x11::Event event;
        x11funcs->XtAppNextEvent(appcontext, &event);
        x11funcs->XtDispatchEvent(&event);
      }
      ::pthread_mutex_unlock(&lock);
    }
    timespec pause{0, 100000000};
    ::nanosleep(&pause, nullptr);
  } while (Running());
  return nullptr;
}

}  // namespace launcher

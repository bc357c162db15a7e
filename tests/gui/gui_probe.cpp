// Drives the toolkit through its argument words, one command each, so that tests can watch
// its windows and the launcher's output routes from outside. Replies go to descriptor 3.
//   load | status:TEXT | error:TEXT | locale | await-console | xterror | xterror-dispatch
#include <dlfcn.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "gui/toolkit.h"
#include "gui/toolkit_state.h"
#include "host/locale.h"
#include "messages/output.h"

namespace launcher {
namespace {

// Asks for a dialog without a parent, which Xt reports as an error.
void CreateOrphanDialog(x11::Widget, void*, x11::Event*, unsigned char*) {
  x11funcs->XmCreateTemplateDialog(nullptr, "Orphan", nullptr, 0);
}

}  // namespace
}  // namespace launcher

int main(int argc, char** argv) {
  using namespace launcher;
  FILE* replies = ::fdopen(3, "w");
  for (int i = 1; i < argc && replies; ++i) {
    std::string command = argv[i], text = command.substr(command.find(':') + 1), reply = command;
    if (command == "load") {
      GetLocale();
      SetPrintToConsole(0);
      reply += " " + std::to_string(LoadX11(true) != nullptr);
    } else if (command.rfind("status:", 0) == 0 || command.rfind("error:", 0) == 0) {
      reply = std::to_string(command[0] == 's' ? statusf("%s", text.c_str()) : _fprintf(stderr, "%s", text.c_str()));
    } else if (command == "locale") {
      std::string tag = GetLocale();
      reply += std::string(" ") + std::setlocale(LC_ALL, nullptr) + " " + tag;
    } else if (command == "await-console") {
      for (int tries = 0; tries < 500 && !GetPrintToConsole(); ++tries) ::usleep(10000);
      reply += " " + std::to_string(GetPrintToConsole());
    } else if (command == "xterror") {
      ToolkitLock toolkit;
      CreateOrphanDialog(nullptr, nullptr, nullptr, nullptr);
    } else if (command == "xterror-dispatch") {
      // From an exposure handler of the status window, which runs on the dispatch thread.
      using Handler = void (*)(x11::Widget, void*, x11::Event*, unsigned char*);
      auto add = reinterpret_cast<void (*)(x11::Widget, long, unsigned char, Handler, void*)>(
          ::dlsym(libgui, "XtAddEventHandler"));
      ToolkitLock toolkit;
      if (add && statusdialog) add(statusdialog, 1L << 15, 0, CreateOrphanDialog, nullptr);
    }
    std::fprintf(replies, "%s\n", reply.c_str());
    std::fflush(replies);
  }
  return 0;
}

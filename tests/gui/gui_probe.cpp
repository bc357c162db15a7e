// A small program that drives the toolkit from commands on standard input, so that tests can
// watch its windows from outside. Replies go to descriptor 3; standard output and standard
// error are left to the terminal routes under test.
//
//   load | status TEXT | error TEXT | info TEXT | hide | text | locale | console | loaded |
//   xterror | xterror-dispatch | quit
//
// "\n" in TEXT stands for a line feed.
#include <dlfcn.h>
#include <dirent.h>
#include <unistd.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <string>

#include "gui/toolkit.h"
#include "gui/toolkit_state.h"
#include "host/locale.h"
#include "messages/output.h"

namespace launcher {
namespace {

FILE* replies = nullptr;

void Reply(const std::string& line) {
  std::fprintf(replies, "%s\n", line.c_str());
  std::fflush(replies);
}

std::string Decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

int Status(const char* format, ...) __attribute__((format(printf, 1, 2)));
int Status(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = PrintToStatusWindow(format, args);
  va_end(args);
  return count;
}

int Box(OutputKind kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
int Box(OutputKind kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = PrintToMessageBox(kind, format, args);
  va_end(args);
  return count;
}

int ThreadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

// The status window's current text, line breaks as "\\n", read segment by segment with
// Motif calls the launcher itself never needs.
std::string StatusText() {
  if (statusdialog == nullptr || libgui == nullptr) return "<none>";
  using InitContext = int (*)(void**, x11::XmString);
  using NextSegment = int (*)(void*, char**, char**, unsigned char*, unsigned char*);
  using FreeContext = void (*)(void*);
  auto init = reinterpret_cast<InitContext>(::dlsym(libgui, "XmStringInitContext"));
  auto next = reinterpret_cast<NextSegment>(::dlsym(libgui, "XmStringGetNextSegment"));
  auto done = reinterpret_cast<FreeContext>(::dlsym(libgui, "XmStringFreeContext"));
  ToolkitLock toolkit;
  if (toolkit.get() == nullptr || !init || !next || !done) return "<unavailable>";
  x11::XmString value = nullptr;
  x11::Arg arg{"messageString", reinterpret_cast<x11::XtArgVal>(&value)};
  toolkit.get()->XtGetValues(statusdialog, &arg, 1);
  void* context = nullptr;
  std::string result;
  if (value != nullptr && init(&context, value)) {
    char* text = nullptr;
    char* tag = nullptr;
    unsigned char direction = 0;
    unsigned char separator = 0;
    while (next(context, &text, &tag, &direction, &separator)) {
      result += text != nullptr ? text : "";
      if (separator) result += "\\n";
      std::free(text);
      std::free(tag);
    }
    done(context);
  }
  if (value != nullptr) toolkit.get()->XmStringFree(value);
  return result;
}

// Asks for a dialog without a parent, which Xt reports as an error.
bool CreateOrphanDialog(X11Functions* x) {
  x->XmCreateTemplateDialog(nullptr, "Orphan", nullptr, 0);
  return true;
}

}  // namespace
}  // namespace launcher

int main() {
  using namespace launcher;
  replies = ::fdopen(3, "w");
  if (replies == nullptr) replies = stderr;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string command = line.substr(0, line.find(' '));
    std::string argument = line.size() > command.size() ? Decode(line.substr(command.size() + 1)) : "";
    if (command == "load") {
      GetLocale();
      SetPrintToConsole(0);
      bool loaded = LoadX11(true) != nullptr;
      Reply("load " + std::to_string(loaded) + " console=" + std::to_string(GetPrintToConsole()));
    } else if (command == "status") {
      Reply("status " + std::to_string(Status("%s", argument.c_str())));
    } else if (command == "error" || command == "info") {
      int count = Box(command == "info" ? OutputKind::kInformation : OutputKind::kError, "%s", argument.c_str());
      Reply(command + " " + std::to_string(count));
    } else if (command == "hide") {
      HideStatusWindow();
      Reply("hide");
    } else if (command == "text") {
      Reply("text " + StatusText());
    } else if (command == "locale") {
      std::string tag = GetLocale();
      const char* current = std::setlocale(LC_ALL, nullptr);
      Reply(std::string("locale ") + (current ? current : "<null>") + " tag=" + tag);
    } else if (command == "console") {
      Reply("console " + std::to_string(GetPrintToConsole()));
    } else if (command == "loaded") {
      void* handle = ::dlopen("libXm.so.4", RTLD_NOW | RTLD_NOLOAD);
      if (handle != nullptr) ::dlclose(handle);
      Reply("loaded library=" + std::to_string(handle != nullptr) +
            " threads=" + std::to_string(ThreadCount()));
    } else if (command == "xterror") {
      ToolkitLock toolkit;
      Reply(toolkit.get() != nullptr && CreateOrphanDialog(toolkit.get())
                ? "xterror returned console=" + std::to_string(GetPrintToConsole())
                : "xterror unavailable");
    } else if (command == "xterror-dispatch") {
      // The error comes from an exposure handler of the status window, which runs on the
      // dispatch thread once the window is shown.
      using Handler = void (*)(x11::Widget, void*, x11::Event*, unsigned char*);
      using AddHandler = void (*)(x11::Widget, long, unsigned char, Handler, void*);
      auto addHandler = reinterpret_cast<AddHandler>(::dlsym(libgui, "XtAddEventHandler"));
      ToolkitLock toolkit;
      if (toolkit.get() == nullptr || addHandler == nullptr || statusdialog == nullptr) {
        Reply("xterror-dispatch unavailable");
        continue;
      }
      constexpr long kExposureMask = 1L << 15;
      addHandler(statusdialog, kExposureMask, 0,
                 [](x11::Widget, void*, x11::Event*, unsigned char*) {
                   CreateOrphanDialog(x11funcs);
                 },
                 nullptr);
      Reply("xterror-dispatch armed");
    } else if (command == "quit") {
      Reply("quit");
      break;
    } else {
      Reply("unknown " + command);
    }
  }
  std::fflush(stdout);
  return 0;
}

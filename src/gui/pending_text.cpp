#include "gui/pending_text.h"

#include <utility>

#include "messages/convert.h"

namespace launcher {

std::string FormatAfterPending(std::string& pending, int& formatted, const char* format,
                               va_list args) {
  std::string text = std::move(pending);
  pending.clear();
  const std::size_t prefix = text.size();
  formatted = 0;
  // Room grows in steps of 1024 until the text fits; the needed size is known after the
  // first attempt, so the step that fits is taken at once.
  std::size_t room = 1024;
  for (;;) {
    text.resize(prefix + room);
    va_list attempt;
    va_copy(attempt, args);
    int count = std::vsnprintf(text.data() + prefix, room, format, attempt);
    va_end(attempt);
    if (count < 0) {
      // Unformattable (an encoding error): growing would never help; the prefix survives.
      text.resize(prefix);
      return text;
    }
    if (static_cast<std::size_t>(count) < room) {
      text.resize(prefix + static_cast<std::size_t>(count));
      formatted = count;
      return text;
    }
    room = (static_cast<std::size_t>(count) / 1024 + 1) * 1024;
  }
}

bool EndsLine(const std::string& text) { return !text.empty() && text.back() == '\n'; }

int WriteText(FILE* stream, const std::string& text) {
  std::string converted = ForTerminal(text);
  return static_cast<int>(std::fwrite(converted.data(), 1, converted.size(), stream));
}

}  // namespace launcher

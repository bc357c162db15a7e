// Text from one codeset to another through iconv, growing the output buffer as needed.
#include "messages/convert.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

#include "host/locale.h"

namespace launcher {

namespace {

struct IconvCloser {
  void operator()(std::remove_pointer_t<iconv_t>* cd) const { iconv_close(cd); }
};
using UniqueIconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

// The output buffer starts at this size and grows by it whenever iconv reports E2BIG.
constexpr std::size_t kCapacityStep = 1025;

// text converted from codeset from to codeset to; an unchanged copy when there is no
// converter, and "" when text holds a character that can't be converted.
std::string Convert(const char* text, const char* from, const char* to) {
  iconv_t raw = iconv_open(to, from);
  if (raw == reinterpret_cast<iconv_t>(-1)) return text;
  UniqueIconv cd(raw);

  const std::size_t length = std::strlen(text);
  // No codeset needs 16 bytes per input byte; the bound only guards against a converter
  // that keeps reporting a full buffer.
  const std::size_t maxCapacity = 16 * length + kCapacityStep;
  for (std::size_t capacity = kCapacityStep; capacity <= maxCapacity;
       capacity += kCapacityStep) {
    std::string out(capacity, '\0');
    // Every attempt converts from the start, so the shift state must start over too.
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    std::size_t inLeft = length;
    char* outPtr = out.data();
    std::size_t outLeft = capacity;
    // errno is cleared first so that a stale E2BIG can never trigger another attempt.
    errno = 0;
    std::size_t result = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
    if (result != static_cast<std::size_t>(-1)) {
      // A positive count only reports irreversible (but successful) conversions. Stateful
      // codesets still need the sequence that returns to the initial shift state.
      errno = 0;
      result = iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    }
    if (result != static_cast<std::size_t>(-1)) {
      out.resize(capacity - outLeft);
      return out;
    }
    if (errno != E2BIG) return {};
  }
  return {};
}

}  // namespace

std::string ConvertFromUtf8(const char* utf8, const char* codeset) {
  if (utf8 == nullptr) return {};
  if (codeset == nullptr) return utf8;
  return Convert(utf8, "UTF-8", codeset);
}

std::string ForTerminal(const std::string& text) {
  const char* terminal = GetTerminalCodeset();
  const char* process = nl_langinfo(CODESET);
  if (*terminal == '\0' || std::strcmp(terminal, process) == 0) return text;
  std::string converted = Convert(text.c_str(), process, terminal);
  return converted.empty() ? text : converted;
}

}  // namespace launcher

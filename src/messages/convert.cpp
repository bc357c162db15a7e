// UTF-8 to the locale's codeset through iconv, growing the output buffer as needed.
#include "messages/convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

namespace launcher {

namespace {

struct IconvCloser {
  void operator()(std::remove_pointer_t<iconv_t>* cd) const { iconv_close(cd); }
};
using UniqueIconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

// The output buffer starts at this size and grows by it whenever iconv reports E2BIG.
constexpr std::size_t kCapacityStep = 1025;

}  // namespace

std::string ConvertFromUtf8(const char* utf8, const char* codeset) {
  if (utf8 == nullptr) return {};
  if (codeset == nullptr) return utf8;
  iconv_t raw = iconv_open(codeset, "UTF-8");
  if (raw == reinterpret_cast<iconv_t>(-1)) return utf8;
  UniqueIconv cd(raw);

  const std::size_t length = std::strlen(utf8);
  // No codeset needs 16 bytes per input byte; the bound only guards against a converter
  // that keeps reporting a full buffer.
  const std::size_t maxCapacity = 16 * length + kCapacityStep;
  for (std::size_t capacity = kCapacityStep; capacity <= maxCapacity;
       capacity += kCapacityStep) {
    std::string out(capacity, '\0');
    // Every attempt converts from the start, so the shift state must start over too.
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(utf8);
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

}  // namespace launcher

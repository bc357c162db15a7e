// How the launcher keeps process state: one pattern for every unit.
//
// Each unit keeps the state it owns at file scope, under the name the system gives it;
// nothing is passed around in a context object. Plain values (flags, raw handles, function
// pointers, fixed buffers) are plain variables. A value that owns memory (a string, a list, a
// descriptor) is a Lasting: built before main and never destroyed, because exit hooks and
// signal handlers read it after static destructors have run, and the strings that getters
// hand out must stay valid until exit. State that several units of one folder share is
// defined by the unit that runs it and declared in that folder's private header.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <utility>

namespace launcher {

template <class T>
class Lasting {
 public:
  template <class... Args>
  explicit Lasting(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  Lasting(const Lasting&) = delete;
  Lasting& operator=(const Lasting&) = delete;

  T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }
  T* operator->() { return &**this; }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

// A cached string as a getter hands it out: null while it is unset.
inline const char* HandOut(const std::optional<std::string>& value) {
  return value ? value->c_str() : nullptr;
}

}  // namespace launcher

// The installer profile: fixed answers that make the generic launcher this installer.
#include "messages/profile.h"

#include <iterator>
#include <string>

#include "host/lasting.h"
#include "messages/catalog.h"

namespace launcher {

namespace {

// The caller appends each element directly to the application home, hence the leading "/".
const char* const classpath_elements[] = {"/package/PackageFormat.jar"};

}  // namespace

const char* GetJavaClassName() { return "vantor"; }

int GetJavaClasspathElements(const char* const** elements) {
  if (elements != nullptr) *elements = classpath_elements;
  return static_cast<int>(std::size(classpath_elements));
}

std::string GetMessageKeyPrefix(const char* suffix) {
  return std::string("setup_") + (suffix != nullptr ? suffix : "");
}

const char* GetTitle() {
  // Fetched once: the lock-file name depends on it staying the same.
  static Lasting<std::string> title(GetLocalizedMessage("setup_title"));
  return title->c_str();
}

int IsStateFileRequired() { return 1; }

void Cleanup() {}

}  // namespace launcher

// The installer profile: the fixed answers that make the generic launcher this installer.
#pragma once

#include <string>

namespace launcher {

// "vantor": the main class, found as vantor.class in the application home.
const char* GetJavaClassName();

// Stores the class path element table (each element begins with "/") and returns its size.
int GetJavaClasspathElements(const char* const** elements);

// "setup_" followed by suffix: the full key of a profile-specific message.
std::string GetMessageKeyPrefix(const char* suffix);

// The localized "setup_title" text, fetched once and kept for the whole run.
const char* GetTitle();

// 1: -silent takes a state file.
int IsStateFileRequired();

// The profile's clean-up hook, run after the Java program has returned.
void Cleanup();

}  // namespace launcher

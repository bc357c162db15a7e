// Starting the installer program and the upgrade script.
#pragma once

namespace launcher {

// One entry of the JVM option list (the layout of JNI's JavaVMOption).
struct JavaVMOption {
  char* optionString;
  void* extraInfo;  // always null
};

// 1 when vantor.class is readable in the application home.
int CheckJavaClassFile();

// "<application home>/package", cached and owned here; null without an application home.
const char* GetBundledLibraryPath();

// Runs home/bin/java with the options, the main class and the arguments; keeps the status
// window up for 10 seconds, then, unless output goes to the console, hides it with
// hideStatusWindow (the driver's step: runtime does not use the toolkit); waits, and
// returns the Java exit status (1 on any failure).
int ExecuteJava(const char* home, int numOptions, const JavaVMOption* options, int numArgs,
                char* const* args, void (*hideStatusWindow)() = nullptr);

// Runs the upgrade script, only when it is this user's regular file that nobody else may
// write, with an empty environment; its exit code, or -1.
int InvokeUpgradeTool(const char* path);

}  // namespace launcher

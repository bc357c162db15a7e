// Exit, signals and clean-up: the working directory is removed once, whether the run ends
// normally or through a signal, and a handler does only async-signal-safe work.
#pragma once


namespace launcher {

// Renders the "performing_cleanup" line for the signal handlers; called once the locale
// is known and again whenever it may have changed.
void PrepareCleanupLine();

// Publishes the path of a freshly created working directory for removal; false when it
// doesn't fit the handlers' fixed buffer.
bool SetWorkingDirectory(const char* path);

// The working directory, or null before it exists and after its removal.
const char* GetWorkingDirectory();

// Lets PrepareToExit run the profile's Cleanup: set once the Java process has returned.
void SetDoCleanup(bool value);

// Normal-flow clean-up: the status line, the profile's Cleanup (after the Java process
// has returned), removal of the working directory. Runs at most once per process.
void PrepareToExit();

// Removes the working directory with everything in it, at most once.
void DeleteWorkingDirectory();

// Terminating signals: clean up, then _exit(255).
[[noreturn]] void HandleSignalAndExit(int signal);

// Fault signals: clean up, then end by SIGABRT.
[[noreturn]] void HandleSignalAndAbort(int signal);

// Installs the dispositions table: some signals ignored, the rest caught by the two
// handlers above, each with a full mask.
void InstallSignalDispositions();

}  // namespace launcher

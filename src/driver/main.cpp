// The launcher's entry point: one straight run through the stages, each of which either
// falls through to the next or ends the run with its status.
#include <cstdio>

#include "driver/arguments.h"
#include "driver/cleanup.h"
#include "driver/single_instance.h"
#include "driver/stages.h"
#include "host/memory.h"
#include "host/process.h"
#include "host/self_location.h"
#include "messages/output.h"

int main(int argc, char** argv) {
  using namespace launcher;
  OpenStandardDescriptors();
  InstallOutOfMemoryHandler();
  // Status lines reach a file or pipe as they are printed, so the clean-up line that a
  // signal handler writes directly never overtakes them and none is lost at _exit.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  if (!SetExecName(argc > 0 ? argv[0] : nullptr)) {
    ErrorMessage("no_resolve_exec_path");
    return 1;
  }
  ExitIfNotOnlyInstance();
  SetProgName(GetExecName());
  PrepareCleanupLine();
  InstallSignalDispositions();

  Arguments arguments;
  int status = 1;
  if (!ParseArguments(argc - 1, argv + 1, &arguments, &status)) return status;
  PrepareCleanupLine();  // starting the toolkit may have changed the locale

  StatusMessage("checking_disk_space");
  if (!CreateWorkingDirectory()) return 1;
  std::optional<PayloadSize> payload = MeasurePayload();
  if (!payload) return 1;
  // The payload is extracted there, and the Java program runs from it.
  if (payload->present) SetApplicationHome(GetWorkingDirectory());
  if (!CheckDiskSpace(*payload)) return 1;

  StatusMessage("checking_java");
  std::optional<std::string> runtimeHome = SelectJavaRuntime(arguments.javaHome);
  if (!runtimeHome) return 1;
  if (!ExtractPayload()) return 1;
  if (!AssembleJvmOptions(*runtimeHome, arguments)) return 1;
  if (!EnterApplicationHome()) return 1;

  if (arguments.console) SetPrintToConsole(1);
  StatusMessage("executing_java");
  status = RunInstallerProgram(*runtimeHome, arguments);

  SetDoCleanup(true);
  PrepareToExit();
  return status;
}

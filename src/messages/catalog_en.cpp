// English texts, entries messages_<key>.
#include "messages/catalog_tables.h"

namespace launcher {

namespace {

const CatalogEntry english_catalog[] = {
    {"messages_cancel", "Cancel"},
    {"messages_checking_disk_space", "Checking available disk space...\n"},
    {"messages_checking_java", "Checking Java(TM) 2 Runtime Environment...\n"},
    {"messages_connecting_x11", "Connecting to X11 server '%s'.\n"},
    {"messages_corrupted_zip_file", "Error: The '%s' file appears to be corrupted.\n"},
    {"messages_executing_java", "Launching Java(TM) 2 Runtime Environment...\n"},
    {"messages_installusage",
     "Usage: '%s' [-options]\n"
     "where options include:\n"
     "    -console\n"
     "        run this application in a console\n"
     "    -silent <state file>\n"
     "        run this application silently using input from the specified file\n"
     "    -savestate <state file>\n"
     "        log state information in the specified file\n"
     "    -javahome <JRE (%s or higher) installation directory>\n"
     "        force this application to use the specified \n"
     "        Java(TM) 2 Runtime Environment installation\n"
     "    -tmpdir <temporary directory>\n"
     "        put all temporary files in the specified directory\n"
     "    -id\n"
     "        print WizardID value to standard output\n"
     "    -h\n"
     "    -help\n"
     "        print this help message\n"},
    {"messages_java_aborted", "Error: The Java(TM) Virtual Machine has aborted.\n"},
    {"messages_jvm_version_unsupported",
     "Error: The Java(TM) Virtual Machine is not a supported version.\n"},
    {"messages_missing_file_name", "Error: '%s' must be followed by a file name.\n"},
    {"messages_missing_jvm_dir",
     "Error: '%s' must be followed by a Java(TM) installation directory.\n"},
    {"messages_missing_writable_dir",
     "Error: '%s' must be followed by a writable directory.\n"},
    {"messages_need_more_colors",
     "This computer has less than 256 colors. This application requires at least\n"
     "256 colors to display windows.\n"
     "\n"
     "Do you want to run this application in console mode?\n"},
    {"messages_no", "No"},
    {"messages_no_connect_x11", "Error: Cannot connect to X11 server '%s'.\n"},
    {"messages_no_connect_x11_usage",
     "Check that the DISPLAY environment variable is correctly set or try\n"
     "rerunning this application with the following usage:\n"
     "    '%s' -console\n"},
    {"messages_no_find_exec_dir", "Error: Could not find directory of executable.\n"},
    {"messages_no_find_java",
     "Error: Could not find the required version of the Java(TM) 2 Runtime "
     "Environment.\n"},
    {"messages_no_find_java_usage",
     "This application needs version %s or higher of the Java(TM) 2 Runtime\n"
     "Environment. If the required Java(TM) 2 Runtime Environment is not installed,\n"
     "you can download it from the following website:\n"
     "    %s\n"
     "Or if you already have the required Java(TM) 2 Runtime Environment\n"
     "installed, try rerunning this application with the following usage:\n"
     "    '%s' -javahome <Java(TM) installation directory>\n"},
    {"messages_no_find_specified_java",
     "Error: Could not find the required version of the Java(TM) 2 Runtime "
     "Environment in '%s'.\n"},
    {"messages_no_motif_libs", "Error: Cannot find the required Motif binaries.\n"},
    {"messages_no_motif_libs_usage",
     "Check that the LD_LIBRARY_PATH environment variable includes the\n"
     "directories that contain the Motif binaries\n"},
    {"messages_no_resolve_exec_path",
     "Error: Could not resolve the absolute path of this application.\n"},
    {"messages_no_set_specified_working_dir",
     "Error: Could not set working directory to '%s'.\n"},
    {"messages_no_space_system_tmpdir",
     "\n"
     "Error: There is not enough free disk space in the '%s' temporary directory.\n"
     "%s bytes are required and only %s bytes are available.\n"},
    {"messages_no_valid_arg", "Error: '%s' is not a valid argument.\n"},
    {"messages_no_writable_dir", "Error: '%s' is not a writable directory.\n"},
    {"messages_no_writable_system_tmpdir",
     "Error: The '%s' temporary directory is not a writable directory.\n"},
    {"messages_no_writable_system_tmpdir_usage",
     "Try rerunning this application with the following usage:\n"
     "    '%s' -tmpdir <temporary directory>\n"},
    {"messages_ok", "OK"},
    {"messages_performing_cleanup", "Deleting temporary files...\n"},
    {"messages_setup_already_started",
     "Another installation process is already running. Exiting.\n"},
    {"messages_setup_no_files", "Error: There are no files requiring installation.\n"},
    {"messages_setup_title", "Setup"},
    {"messages_uninstall_already_started",
     "Another uninstallation process is already running. Exiting.\n"},
    {"messages_uninstall_no_files", "There are no files requiring uninstallation.\n"},
    {"messages_uninstall_title", "Uninstall"},
    {"messages_uninstallusage",
     "Usage: '%s' [-options]\n"
     "where options include:\n"
     "    -console\n"
     "        run this application in a console\n"
     "    -silent \n"
     "        run this application silently \n"
     "    -javahome <JRE (%s or higher) installation directory>\n"
     "        force this application to use the specified \n"
     "        Java(TM) 2 Runtime Environment installation\n"
     "    -tmpdir <temporary directory>\n"
     "        put all temporary files in the specified directory\n"
     "    -h\n"
     "    -help\n"
     "        print this help message\n"},
    {"messages_unzipping_files", "Extracting installation files...\n"},
    {"messages_unzipping_java_files", "Extracting Java(TM) 2 Runtime Environment files...\n"},
    {"messages_yes", "Yes"},
};

}  // namespace

std::span<const CatalogEntry> EnglishCatalog() { return english_catalog; }

}  // namespace launcher

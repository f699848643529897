#pragma once
// The program's folders. What the program writes and keeps (Report/, the result file and the
// ranking page after a disk test, the engine's log) lives in the user's data folder, never
// beside the executable: an installed program's folder is read-only and a build folder is
// deleted by `make clean`. What it only reads (the scene archive, the help page) is looked up
// in the current folder first, then beside the executable (the build tree), then in the
// installation's data folder.
#include <string>

// $XDG_DATA_HOME/zelka/ (by default ~/.local/share/zelka/), always ending in '/'.
std::string ProgramDataFolder();

// Creates the data folder and its Report/ folder where they are missing. Returns false when
// either cannot be made.
bool CreateProgramDataFolder();

// The folder holding the running executable, ending in '/'.
std::string ExecutableFolder();

// Where a read-only file of the program is: `name` itself when it exists in the current
// folder, else the full path of the copy beside the executable or in the installation's data
// folder; empty when there is none. Tests name another executable folder.
std::string FindProgramFile(const std::string& name,
                            const std::string& executableFolder = ExecutableFolder());

#pragma once
// Where the program keeps its files (settings, catalogue, export, lists). A copy started
// from the folder it was installed to keeps them in the user's data folder, so a start from
// the desktop menu never strews them into whatever the current directory is; a copy started
// from its build folder (the run command) keeps them in the current directory. Nothing here
// reads the command line or the environment beyond what Qt's standard paths read.
#include <QString>

// True when `program_dir` (the running executable's folder) is `installed_bin_dir`, both
// compared with links resolved; false when either is empty or missing.
bool runs_installed(const QString& program_dir, const QString& installed_bin_dir);

// The program folder without a trailing separator: the user's data folder for this
// application (created when missing) when installed, the current directory otherwise.
// Empty when the data folder cannot be created.
QString choose_program_folder(bool installed);

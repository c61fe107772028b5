#pragma once
#include <string>

// Folder of the running executable, with a trailing "/".
std::string ExeDirectory();
// Full path of the running executable.
std::string ExePath();
// The executable's file name without directory and extension.
std::string ExeBaseName();
// The user's home folder with a trailing "/"; stands in for the old "C:\" defaults.
std::string HomeDirectory();

// The user's configuration folder for this program ($XDG_CONFIG_HOME/ulmaro/
// or ~/.config/ulmaro/), with a trailing "/"; not created here.
std::string UserConfigDirectory();

// SETUP_ULMARO.INI (only ever read): next to the executable when it is
// there, else in the user's configuration folder, else the system-wide
// default an installed package puts beside the program's share folder
// (<prefix>/share/ulmaro/ for <prefix>/bin/ulmaro). When none exists, the
// path next to the executable (reading it gives every default).
std::string SetupUlmaroIniPath();
// The same choice for given folders (each with a trailing "/").
std::string FindSetupUlmaroIni(const std::string& exeDir, const std::string& configDir);
// SETUP.INI next to the executable; when that folder cannot be written, the
// file lives in the user's configuration folder instead. An installed
// program (its defaults under <prefix>/share/ulmaro/) keeps it there too, even
// for root, so no settings land among the system's programs.
std::string SetupIniPath();
// The same choice for given folders (each with a trailing "/"); the
// configuration folder is not created here.
std::string ChooseSetupIni(const std::string& exeDir, const std::string& configDir);

// Test hook: pins the folder both settings files are taken from ("" undoes it).
void SetSettingsDirectoryOverride(const std::string& dir);
// The pinned folder with a trailing "/", or "" when none is pinned.
std::string SettingsDirectoryOverride();

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

// SETUP_ULMARO.INI next to the executable (only ever read).
std::string SetupUlmaroIniPath();
// SETUP.INI next to the executable; when that folder cannot be written, the
// file lives in the user's configuration folder instead.
std::string SetupIniPath();

// Test hook: pins the folder both settings files are taken from ("" undoes it).
void SetSettingsDirectoryOverride(const std::string& dir);

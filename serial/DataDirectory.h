#pragma once
#include <QString>

struct TMainState;

// The folder part of a file name: everything up to and including the last
// "/"; empty when there is none.
QString DirectoryOf(const QString& fileName);

// After a charge plate monitor file was saved as `fileName`: when its folder
// differs from the state's CpmDataDirectory (exact comparison), that folder
// becomes the new one and is written to SETUP.INI, section "CPM", key
// "DataDirectory". Returns whether it changed.
bool UpdateCpmDataDirectory(TMainState& state, const QString& fileName);

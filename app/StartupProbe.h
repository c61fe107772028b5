#pragma once

class QCoreApplication;

// For start-up measurements and smoke tests of an installed program:
// "--quit-after MS" (or "--quit-after=MS") on the command line prints
// "ulmaro: main window shown" to standard output once the first window has
// been painted, and closes that window MS milliseconds later, as a user
// would, which ends the program. Without the option nothing happens.
void InstallStartupProbe(QCoreApplication* app, int argc, const char* const* argv);

// The option's value: -1 when absent or not a whole number of at least 0.
int QuitAfterMs(int argc, const char* const* argv);

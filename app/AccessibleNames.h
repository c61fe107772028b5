#pragma once

class QCoreApplication;

// Screen readers and UI automation find a window by its accessible name.
// Every window of the program gets its caption as that name: an
// application-wide event filter copies the caption whenever a window is
// shown or its caption changes, so windows added later need no code of
// their own for it. Installing twice does nothing more.
void InstallAccessibleNames(QCoreApplication* app);

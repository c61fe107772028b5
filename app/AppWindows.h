#pragma once

// Creates the program's twelve windows in their fixed order (main window
// first); all but the main window stay hidden. Sets every global window
// pointer. `demo` makes the program use simulated instruments.
void CreateAllWindows(int argc, const char* const* argv, bool demo);

// Destroys them again in reverse order (tests create and destroy several times).
void DestroyAllWindows();

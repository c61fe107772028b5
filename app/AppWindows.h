#pragma once
#include <QString>

// Creates the program's twelve windows in their fixed order (main window
// first); all but the main window stay hidden. Sets every global window
// pointer. `demo` makes the program use simulated instruments.
void CreateAllWindows(int argc, const char* const* argv, bool demo);

// The same in two halves, so that the main window is on screen sooner:
// CreateMainWindow makes the main window with its menus and start view;
// CompleteWindows adds its hidden read-out and the other eleven windows
// (nothing when they are there already).
void CreateMainWindow(int argc, const char* const* argv, bool demo);
void CompleteWindows();

// For the program's start: CompleteWindows runs right after the main
// window's first paint, or before the first input event reaches any window,
// whichever comes first (and within a quarter of a second if the window is
// never painted). A window that cannot be built is shown as an error and
// ends the program with exit code 1.
void CompleteWindowsAfterFirstPaint();
void CompleteWindowsNow();

// Whether every window has been built.
bool WindowsComplete();

// The line a serial failure's box adds below the error's text: the
// instrument in use (from the window that is open, else the chart's device),
// its port and what to check. Installed as TApplication::SerialFailureHint
// by CreateAllWindows.
QString SerialFailureHint();

// Destroys them again in reverse order (tests create and destroy several times).
void DestroyAllWindows();

// A second start of the program asked to see it: the main window comes out
// of the task bar or from behind other programs, and the window the user
// works in (an instrument window or a modal box above it) on top of it.
void ShowRunningProgram();

// Watches the single-instance channel and answers each request with
// ShowRunningProgram. Nothing to do when this process does not listen.
void WatchShowRequests();

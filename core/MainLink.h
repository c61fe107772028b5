#pragma once
#include <functional>
#include <utility>

// How a window other than the main window reaches it. The windows of the
// instruments and of the serial link know only these hooks; the program's
// composition root connects them to the main window (tests connect their
// own). A hook not connected does nothing.
struct TMainLink {
    // An instrument window is done: re-enable the main window and show its
    // wallpaper again.
    std::function<void()> ReturnToMain;
    // Bring the main window to the front again (after another window that
    // may have taken the focus on its way out has closed).
    std::function<void()> RaiseMain;
    // Close the numeric display window if it is open (ends its loop).
    std::function<void()> CloseDisplay;
    // The numeric display window closed: the View and Device menus are
    // offered again.
    std::function<void()> DisplayClosed;
    // Another window's loop asks for the main window to be drawn anew.
    std::function<void()> RepaintMain;
    // Enable or disable the serial instruments' menu entries: the charge
    // plate monitor's and the tera-ohmmeter's, and the tester's too when
    // `tester` is set (the port choice at start sets all three; a later
    // choice leaves the tester's entry as it is).
    std::function<void(bool enabled, bool tester)> SerialMenusEnabled;
    // The port name was set: captions that carry it are built anew (the
    // charge plate monitor window's).
    std::function<void()> PortNameChanged;
};

// The one link of the run.
TMainLink& MainLink();

// Calls a hook when it is connected.
template <class F, class... A>
void CallHook(const F& hook, A&&... args)
{
    if (hook)
        hook(std::forward<A>(args)...);
}

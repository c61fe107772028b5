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
    // Close the numeric display window if it is open (ends its loop).
    std::function<void()> CloseDisplay;
    // The serial port choice changed: enable or disable the serial
    // instruments' menu entries (true when a port is chosen).
    std::function<void(bool portChosen)> SerialMenusEnabled;
    // The port name changed: captions that carry it are built anew.
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

#pragma once
#include <cstdint>

// What the protocol and loop code may ask of the running program: time,
// pauses and a chance for the window to handle pending input. Tests put a
// host of their own in place so that loops run without a window and, where
// they wish, on a clock they drive themselves.
class IHost {
public:
    virtual ~IHost() = default;
    // Milliseconds since some fixed moment; wraps like a 32-bit tick count.
    virtual uint32_t TickCount() = 0;
    virtual void Sleep(unsigned ms) = 0;
    // Lets the GUI handle what is pending (button clicks that set flags).
    virtual void ProcessMessages() = 0;

    // Serves what a window must answer even while a loop holds it: repaints,
    // timers, a screen reader's questions on the accessibility bus. Clicks and
    // keys stay queued for the loop's next ProcessMessages, so Stop, Break and
    // Reset still take effect at the points the loop gives them.
    virtual void KeepAnswering() {}
    // A pause of `ms` during which the window keeps answering, every few
    // milliseconds. Hosts without a window just sleep.
    virtual void PauseAnswering(unsigned ms) { Sleep(ms); }
};

// The host in force. Starts as the real one (monotonic clock, real sleeps,
// Qt event processing when an application object exists).
IHost& Host();
// Installs another host; nullptr returns to the real one. Returns the old one.
IHost* SetHost(IHost* host);

// The real host, for code that needs it explicitly.
IHost& RealHost();

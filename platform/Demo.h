#pragma once

// Whether the program runs against simulated instruments (--demo) instead of
// the hardware.
bool DemoMode();
void SetDemoMode(bool on);

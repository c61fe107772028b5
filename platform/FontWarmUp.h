#pragma once

// Loads the system's font configuration (the configuration files and the
// font cache), which the first text the program measures or paints would
// otherwise wait for. Safe to call from any thread, before or after the Qt
// application exists, and more than once.
void WarmUpFontConfiguration();

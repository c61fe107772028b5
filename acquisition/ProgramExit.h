#pragma once
#include <functional>

// Ends the program at once with `code` (the converter-missing case). Tests
// put a hook in place that records the code instead; when a hook returns,
// the caller goes on as if the program had ended (it does nothing more).
void EndProgram(int code);
void SetEndProgramHook(std::function<void(int)> hook);

// The converter is missing at a Start: `showError` puts the red error box on
// the screen, the window gets to paint it, and after 5 s the program ends
// with exit code -1.
void AbortForMissingConverter(const std::function<void()>& showError);

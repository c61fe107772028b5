// Placeholder: the real lock comes with the program shell's platform layer.
#include "platform/SingleInstance.h"

bool SingleInstanceCheck(int, const char* const*) { return true; }
const char* SingleInstanceLockPath(const char*) { return ""; }

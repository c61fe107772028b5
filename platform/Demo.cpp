#include "platform/Demo.h"

namespace {
bool g_demo = false;
}

bool DemoMode() { return g_demo; }
void SetDemoMode(bool on) { g_demo = on; }

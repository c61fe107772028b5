#pragma once
// What the soak reads about its own process: resident memory and open descriptors.
#include "tests/support/Descriptors.h"

#include <cstdlib>
#include <fstream>
#include <string>

inline long RssKiB()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

#pragma once
// What the soak reads about its own process: resident memory and open descriptors.
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

inline long RssKiB()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

inline int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n - 1; // the directory stream itself
}

// "fd -> target" per line, to see which one a count differs by.
inline std::string DescriptorList()
{
    std::string out;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) < 0)
                continue;
            out += std::string("    ") + e->d_name + " -> " + target + "\n";
        }
        closedir(d);
    }
    return out;
}

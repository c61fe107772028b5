#pragma once
// The process's own open descriptors, to tell a leak from a file that was
// meant to stay open: how many, and what each one is.
#include <QCoreApplication>

#include <chrono>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>

// Qt's own process-wide caches, opened once on first use and kept for the
// life of the process (a file dialog's watcher, the MIME database): opened
// by a helper thread, they may turn up a little after the first dialog, and
// they are no leak of the program's.
inline bool IsToolkitCache(const char* target)
{
    const std::string t(target);
    return t == "anon_inode:inotify" || t.rfind("/usr/share/mime/", 0) == 0;
}

inline int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) >= 0 && IsToolkitCache(target))
                continue;
            ++n;
        }
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
            out += std::string(e->d_name) + " -> " + target + "\n";
        }
        closedir(d);
    }
    return out;
}

// The descriptor count once it is back at `expected`, or the count after
// `timeoutMs` of waiting (Qt's events processed meanwhile): a file dialog's
// folder listing, or a simulated instrument's thread, holds a descriptor
// open for a moment of its own, which is no leak.
inline int DescriptorsSettledAt(int expected, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int n = OpenDescriptors();
    while (n != expected && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = OpenDescriptors();
    }
    return n;
}

#include "platform/SingleInstance.h"
#include "platform/Paths.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock name as the program has always called it; file systems get it
// with every run of other characters turned into one "-"
// ("PREVINST: ulmaro" -> "PREVINST-ulmaro").
std::string SafeLockName(const std::string& baseName)
{
    const std::string name = "PREVINST: " + baseName;
    std::string out;
    bool gap = false;
    for (const unsigned char c : name) {
        if (std::isalnum(c) || c == '_' || c == '.' || (c >= 0x80)) {
            if (gap && !out.empty())
                out += '-';
            out += char(c);
            gap = false;
        } else {
            gap = true;
        }
    }
    return out;
}

bool UsableDirectory(const char* dir)
{
    struct stat st {};
    return dir && dir[0] == '/' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK | X_OK) == 0;
}

std::string SharedTmpLockPath(const std::string& baseName)
{
    return "/tmp/" + SafeLockName(baseName) + "-uid" + std::to_string(getuid()) + ".lock";
}

std::string LockPathFor(const std::string& baseName)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (UsableDirectory(runtime)) {
        std::string dir = runtime;
        if (dir.back() != '/')
            dir += '/';
        return dir + SafeLockName(baseName) + ".lock";
    }
    return SharedTmpLockPath(baseName);
}

bool HasTaskWord(int argc, const char* const* argv)
{
    for (int i = 0; i < argc && i <= 5; ++i)
        if (argv[i] && strcasecmp(argv[i], "task") == 0)
            return true;
    return false;
}

enum class LockResult { Taken, HeldByOther, Unavailable };

// The descriptor stays open (and so the lock held) until the process ends;
// children started by the program do not inherit it.
LockResult TryLock(const std::string& path, int& err)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        err = errno;
        return LockResult::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return LockResult::Taken;
    err = errno;
    close(fd);
    return err == EWOULDBLOCK ? LockResult::HeldByOther : LockResult::Unavailable;
}

} // namespace

const char* SingleInstanceLockPath(const char* baseName)
{
    static thread_local std::string path;
    path = LockPathFor(baseName ? baseName : "");
    return path.c_str();
}

bool SingleInstanceCheck(int argc, const char* const* argv)
{
    const std::string base = ExeBaseName();
    const std::string path = LockPathFor(base);
    int err = 0;
    LockResult r = TryLock(path, err);
    // A runtime folder we cannot use: the shared temporary folder, with the
    // user id in the name, still keeps this user's instances apart.
    if (r == LockResult::Unavailable) {
        const std::string fallback = SharedTmpLockPath(base);
        if (fallback != path)
            r = TryLock(fallback, err);
    }
    if (r == LockResult::Taken || HasTaskWord(argc, argv))
        return true;
    if (r == LockResult::HeldByOther)
        return false;
    std::fprintf(stderr, "%s: cannot create the instance lock %s (%s); starting without it\n", base.c_str(),
                 path.c_str(), std::strerror(err));
    return true;
}

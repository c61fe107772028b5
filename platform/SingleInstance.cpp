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
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// The descriptor stays open (and so the lock held) until the process ends,
// or until `fd` is closed; children started by the program do not inherit it.
LockResult TryLock(const std::string& path, int& err, int& fd)
{
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        err = errno;
        return LockResult::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return LockResult::Taken;
    err = errno;
    close(fd);
    fd = -1;
    return err == EWOULDBLOCK ? LockResult::HeldByOther : LockResult::Unavailable;
}

// Every running copy, "task" copies included, holds a shared lock on a
// second file beside the lock for as long as it runs: the program counts
// as running while any copy of it does, not only while the first one does.
// "x.lock" -> "x.copies".
std::string CopiesPathFor(const std::string& lockPath)
{
    return lockPath.substr(0, lockPath.size() - 5) + ".copies";
}

int g_copies = -1;

// Whether a copy other than this process runs. Only the holder of the lock
// asks, so no other start can be between the two steps below.
bool OtherCopyRuns(const std::string& lockPath)
{
    const int fd = open(CopiesPathFor(lockPath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool others = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return others;
}

// Counts this process among the running copies until it ends. A copy that
// is itself starting holds the file exclusively for a moment only.
void HoldCopyLock(const std::string& lockPath)
{
    const int fd = open(CopiesPathFor(lockPath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_SH) != 0) {
        close(fd);
        return;
    }
    g_copies = fd;
}

// "x.lock" -> "x.sock": the channel lives beside the lock it belongs to.
std::string SocketPathFor(const std::string& lockPath)
{
    return lockPath.substr(0, lockPath.size() - 5) + ".sock";
}

int g_listen = -1;

bool SocketAddress(const std::string& path, sockaddr_un& addr)
{
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Binds the channel of the lock just taken. Holding the lock makes any
// socket file left at the path a leftover of an ended run. The socket is
// the user's alone (mode 0600; the runtime folder is private as well), and
// every message carries its sender's credentials, checked on receipt.
void Listen(const std::string& lockPath)
{
    const std::string path = SocketPathFor(lockPath);
    sockaddr_un addr;
    if (!SocketAddress(path, addr))
        return;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == getuid())
        unlink(path.c_str());
    const int on = 1;
    const mode_t old = umask(0177);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    umask(old);
    if (!bound || chmod(path.c_str(), 0600) != 0 || setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        close(fd);
        return;
    }
    g_listen = fd;
}

void AskRunningInstanceToShow(const std::string& lockPath)
{
    SendToShowChannel(SocketPathFor(lockPath).c_str(), ShowWindowRequest, sizeof ShowWindowRequest - 1);
}

} // namespace

int ShowRequestSocket() { return g_listen; }

int TakeShowRequests()
{
    if (g_listen < 0)
        return 0;
    int valid = 0;
    for (;;) {
        // One byte more than the request: a longer message shows as longer.
        char buf[sizeof ShowWindowRequest + 1];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(g_listen, &msg, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // nothing more waiting (or the socket failed: nothing to take)
        }
        bool fromUser = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
                ucred cred;
                std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
                fromUser = cred.uid == getuid();
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                // Descriptors sent along are closed unread.
                const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (size_t i = 0; i < count; ++i) {
                    int passed;
                    std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
                    close(passed);
                }
            }
        }
        const size_t want = sizeof ShowWindowRequest - 1;
        if (fromUser && !(msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) && size_t(n) == want &&
            std::memcmp(buf, ShowWindowRequest, want) == 0)
            ++valid;
    }
    return valid;
}

bool SendToShowChannel(const char* path, const void* bytes, unsigned long size)
{
    sockaddr_un addr;
    if (!path || !SocketAddress(path, addr))
        return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // The listener's queue may be full (a flood, a program stuck in a long
    // read): the request is dropped rather than holding up this start.
    const ssize_t n =
        sendto(fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    close(fd);
    return n == ssize_t(size);
}

const char* SingleInstanceSocketPath(const char* baseName)
{
    static thread_local std::string path;
    path = SocketPathFor(LockPathFor(baseName ? baseName : ""));
    return path.c_str();
}

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
    int err = 0, fd = -1;
    std::string used = path;
    LockResult r = TryLock(path, err, fd);
    // A runtime folder we cannot use: the shared temporary folder, with the
    // user id in the name, still keeps this user's instances apart.
    if (r == LockResult::Unavailable) {
        const std::string fallback = SharedTmpLockPath(base);
        if (fallback != path) {
            r = TryLock(fallback, err, fd);
            used = fallback;
        }
    }
    const bool task = HasTaskWord(argc, argv);
    if (r == LockResult::Taken) {
        // The first copy may have ended while one started with "task" runs
        // on: the program still runs, and only "task" starts another copy.
        if (!task && OtherCopyRuns(used)) {
            close(fd);
            return false;
        }
        HoldCopyLock(used);
        Listen(used);
        return true;
    }
    if (task) {
        if (r == LockResult::HeldByOther)
            HoldCopyLock(used);
        return true;
    }
    if (r == LockResult::HeldByOther) {
        AskRunningInstanceToShow(used);
        return false;
    }
    std::fprintf(stderr, "%s: cannot create the instance lock %s (%s); starting without it\n", base.c_str(),
                 path.c_str(), std::strerror(err));
    return true;
}

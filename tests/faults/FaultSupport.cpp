#include "tests/faults/FaultSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

ErrorBoxes::ErrorBoxes() : old_(TApplication::ShowException)
{
    // The box's first line is the error's own text; the line below it names
    // instrument, port and remedy (checked in the application's tests).
    TApplication::ShowException = [this](const QString& m) { shown.push_back(m.section(QLatin1Char('\n'), 0, 0)); };
}

ErrorBoxes::~ErrorBoxes() { TApplication::ShowException = old_; }

void ErrorBoxes::Click(const std::function<void()>& handler)
{
    TApplication::Guarded([&] {
        handler();
        return true;
    });
}

QStringList MessagesSince(const ScriptedPrompt& prompt, size_t from, const ErrorBoxes& errors, size_t fromErrors,
                          const QString& skipCaption)
{
    QStringList out;
    for (size_t i = from; i < prompt.shown().size(); ++i) {
        const auto& s = prompt.shown()[i];
        if (!skipCaption.isEmpty() && s.caption == skipCaption)
            continue;
        out << s.caption + ": " + s.text;
    }
    for (size_t i = fromErrors; i < errors.shown.size(); ++i)
        out << "error box: " + errors.shown[i];
    return out;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

QStringList CompleteLines(const std::string& path)
{
    const std::string all = ReadWholeFile(path);
    QStringList lines;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << path << " ends in a torn line: " << all.substr(start);
            break;
        }
        lines << QString::fromLatin1(all.data() + start, int(end - start));
        start = end + 2;
    }
    return lines;
}

LockHolder::LockHolder(const std::string& path)
{
    int ready[2];
    if (pipe(ready) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        const int fd = open(path.c_str(), O_RDWR);
        struct flock lk {};
        lk.l_type = F_WRLCK;
        lk.l_whence = SEEK_SET;
        // Programs lock with either call; the holder takes both.
        const char ok = (fd >= 0 && fcntl(fd, F_SETLKW, &lk) == 0 && flock(fd, LOCK_EX) == 0) ? '1' : '0';
        [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char ok = '0';
    if (pid_ < 0 || read(ready[0], &ok, 1) != 1 || ok != '1') {
        ADD_FAILURE() << "the second process could not lock " << path;
        Release();
    }
    close(ready[0]);
}

LockHolder::~LockHolder() { Release(); }

void LockHolder::Release()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

namespace {

bool SetImmutable(const std::string& path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

} // namespace

bool MakeReadOnly(const std::string& path)
{
    if (chmod(path.c_str(), 0444) != 0)
        return false;
    if (geteuid() != 0)
        return true;
    // Root writes through permission bits; only the immutable flag stops it.
    return SetImmutable(path, true);
}

void MakeWritable(const std::string& path)
{
    if (geteuid() == 0)
        SetImmutable(path, false);
    chmod(path.c_str(), 0644);
}

DiskFullAfter::DiskFullAfter(unsigned long bytes)
{
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    oldLimit_ = r.rlim_cur;
    r.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &r), 0);
}

DiskFullAfter::~DiskFullAfter()
{
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = oldLimit_;
    setrlimit(RLIMIT_FSIZE, &r);
    std::signal(SIGXFSZ, oldHandler_);
}

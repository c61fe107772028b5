#include "platform/CsvText.h"

#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string ToWindows1252(const QString& text)
{
    std::string out;
    if (text.isEmpty())
        return out;
    iconv_t cd = iconv_open("WINDOWS-1252", "UTF-32LE");
    if (cd == iconv_t(-1)) {
        // No converter on this system: keep plain ASCII, mark the rest.
        for (char32_t c : text.toUcs4())
            out += c < 0x80 ? char(c) : '?';
        return out;
    }
    const QList<uint> ucs = text.toUcs4();
    std::vector<char> in;
    in.reserve(size_t(ucs.size()) * 4);
    for (uint c : ucs)
        for (int i = 0; i < 4; ++i)
            in.push_back(char((c >> (8 * i)) & 0xff));
    char* src = in.data();
    size_t srcLeft = in.size();
    char buf[256];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, size_t(dst - buf));
        if (r == size_t(-1)) {
            if (errno == E2BIG)
                continue;
            // One character the set cannot hold (or a lone surrogate).
            out += '?';
            src += 4;
            srcLeft = srcLeft >= 4 ? srcLeft - 4 : 0;
        }
    }
    iconv_close(cd);
    return out;
}

QString CsvField(const QString& text)
{
    QString s = text;
    s.replace(QLatin1Char(';'), QLatin1Char(','));
    return s;
}

int AppendToFile(const std::string& path, const std::string& bytes, bool create)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0)
        return errno;
    // The append has the file to itself: a program that holds a lock on it
    // (a spreadsheet with the file open), of either kind, keeps its file, and
    // the caller reports the line as not written. A file system without
    // locks (ENOLCK, EINVAL) is written all the same.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if ((::fcntl(fd, F_SETLK, &lock) != 0 && errno != ENOLCK && errno != EINVAL) ||
        (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK && errno != EINVAL)) {
        const int err = errno == EACCES || errno == EWOULDBLOCK ? EAGAIN : errno;
        ::close(fd);
        return err;
    }
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    if (err != 0 && done > 0 && before >= 0) {
        // Take the torn line back; what was there before stays as it was.
        [[maybe_unused]] const int r = ::ftruncate(fd, before);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err;
}

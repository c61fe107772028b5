#include "platform/CsvText.h"

#include "platform/Prompt.h"

#include <QFile>
#include <QList>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Some locales write numbers and times with characters the set cannot
// hold: Swedish, Finnish, Norwegian and others put a MINUS SIGN (U+2212)
// before a negative number, French groups digits with a narrow no-break
// space, Arabic and Indic locales have digits of their own and mark the
// writing direction. Each would become a "?", and a value like "?1,5" can
// no longer be read back: they are written as the plain characters they
// stand for, and the direction marks, which show nothing, are left out.
// Returns 0 for a character that is dropped.
char32_t FoldForWindows1252(char32_t c)
{
    if (c < 0x80)
        return c;
    switch (c) {
    case 0x2212: // minus sign
    case 0x2010: // hyphen
    case 0x2011: // non-breaking hyphen
        return U'-';
    case 0x202F: // narrow no-break space
    case 0x2007: // figure space
        return 0xA0;
    case 0x200E: // left-to-right mark
    case 0x200F: // right-to-left mark
    case 0x061C: // Arabic letter mark
        return 0;
    default:
        break;
    }
    const int digit = QChar::digitValue(c);
    if (digit >= 0 && digit <= 9 && QChar::category(c) == QChar::Number_DecimalDigit)
        return char32_t(U'0' + digit);
    return c;
}

} // namespace

std::string ToWindows1252(const QString& text)
{
    std::string out;
    if (text.isEmpty())
        return out;
    iconv_t cd = iconv_open("WINDOWS-1252", "UTF-32LE");
    if (cd == iconv_t(-1)) {
        // No converter on this system: keep plain ASCII, mark the rest.
        for (char32_t c : text.toUcs4())
            if (const char32_t f = FoldForWindows1252(c))
                out += f < 0x80 ? char(f) : '?';
        return out;
    }
    const QList<uint> ucs = text.toUcs4();
    std::vector<char> in;
    in.reserve(size_t(ucs.size()) * 4);
    for (uint u : ucs)
        if (const char32_t c = FoldForWindows1252(u))
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

namespace {

// Puts a lock of either kind on an open file. 0 or the error: EAGAIN when
// another program holds the file (a spreadsheet with it open). A file system
// without locks (ENOLCK, EINVAL) is written all the same.
int LockForAppend(int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if ((::fcntl(fd, F_SETLK, &lock) != 0 && errno != ENOLCK && errno != EINVAL) ||
        (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK && errno != EINVAL))
        return errno == EACCES || errno == EWOULDBLOCK ? EAGAIN : errno;
    return 0;
}

// 0 when all of `bytes` went in; else the error (ENOSPC for a short write
// whose cause the system did not name).
int WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return n < 0 ? errno : ENOSPC;
    }
    return 0;
}

// Data not on the disk yet is not written: a full disk may only say so here.
int SyncFile(int fd)
{
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

// Every line end of a piece as CR LF, whichever the caller wrote.
std::string CsvBytes(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ToWindows1252(t);
}

} // namespace

int AppendToFile(const std::string& path, const std::string& bytes, bool create)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0)
        return errno;
    if (const int err = LockForAppend(fd); err != 0) {
        ::close(fd);
        return err;
    }
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    int err = WriteAll(fd, bytes);
    if (err == 0)
        err = SyncFile(fd);
    if (err != 0 && before >= 0) {
        // Take the torn line back; what was there before stays as it was.
        [[maybe_unused]] const int r = ::ftruncate(fd, before);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err;
}

TCsvAppend AppendCsv(const QString& fileName, const QStringList& header, const QStringList& lines)
{
    TCsvAppend result;
    const QByteArray name = QFile::encodeName(fileName);
    const char* path = name.constData();
    bool created = false;
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            created = true;
        else if (errno == EEXIST) // made by someone else a moment ago
            fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        else
            result.CreateFailed = true;
    }
    if (fd < 0) {
        result.Error = errno;
        return result;
    }
    // Nothing of a failed append stays: no torn line, no header without its
    // lines, no file without its header.
    const auto giveUp = [&](int err, off_t before) {
        if (before >= 0) {
            [[maybe_unused]] const int r = ::ftruncate(fd, before);
        }
        ::close(fd);
        if (created)
            ::unlink(path);
        result.Error = err;
        return result;
    };
    if (const int err = LockForAppend(fd); err != 0)
        return giveUp(err, -1);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return giveUp(errno, -1);
    const off_t before = S_ISREG(st.st_mode) ? st.st_size : -1;
    // An empty file (one a failed save of an older version left behind)
    // gets its header like a new one.
    result.New = created || before == 0;
    QStringList pieces;
    if (result.New)
        pieces = header;
    pieces += lines;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (const int err = WriteAll(fd, CsvBytes(pieces[i])); err != 0) {
            result.FailedPiece = int(i) + (result.New ? 0 : int(header.size()));
            return giveUp(err, before);
        }
    }
    if (const int err = SyncFile(fd); err != 0) {
        result.FailedPiece = int(pieces.size()) - 1 + (result.New ? 0 : int(header.size()));
        return giveUp(err, before);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        if (created)
            ::unlink(path);
        result.Error = err;
        result.FailedPiece = int(pieces.size()) - 1 + (result.New ? 0 : int(header.size()));
    }
    return result;
}

QString FileErrorCause(int err, const QString& fileName)
{
    switch (err) {
    case 0:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EBUSY:
    case ETXTBSY:
        return {};
    case ENOSPC:
    case EDQUOT:
        return "The disk holding data file " + fileName + " is full.";
    case EFBIG:
        return "Data file " + fileName + " has reached the largest size the disk allows.";
    case EROFS:
        return "The disk holding data file " + fileName + " is read-only.";
    case EACCES:
    case EPERM:
        return "Data file " + fileName + " is read-only, or its folder may not be written.";
    case ENOENT:
    case ENOTDIR:
        return "The folder of data file " + fileName + " does not exist.";
    case EISDIR:
        return fileName + " is a folder, not a data file.";
    case EIO:
        return "The disk reported an error while writing data file " + fileName + ".";
    default:
        return "Data file " + fileName + " could not be written: " + QString::fromLocal8Bit(std::strerror(err)) +
               ".";
    }
}

int ReportCsvAppend(const TCsvAppend& r, const QString& fileName)
{
    if (r.CreateFailed) {
        Prompt().Message(QStringLiteral("Can't create file : ") + fileName, QStringLiteral("Error"));
        return -1;
    }
    if (r.ok())
        return 0;
    // The user must know the line did not get in, and why.
    QString cause = FileErrorCause(r.Error, fileName);
    if (cause.isEmpty())
        cause = QStringLiteral("Data file ") + fileName + QStringLiteral(" is open with another program.");
    Prompt().Message(QStringLiteral("Can't write to file : ") + fileName + QStringLiteral("\n") + cause,
                     QStringLiteral("Error"), TPromptIcon::Error);
    return 1;
}

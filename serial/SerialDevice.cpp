// The serial device on Linux: plain termios (the termios2 form, so that a
// rate without a constant of its own can be asked for), non-blocking I/O and ppoll on the monotonic
// clock for the time-outs. libserialport is not used here: it cannot open
// pseudo-terminals, does not clear RTS/CTS when asked and turns a vanished
// device into a spinning time-out.
#include "serial/SerialDevice.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kNone = -1;

// The speed bits for a rate: the kernel's own constant where the rate has
// one, so that stty and every other tool read the rate back as it is
// (BOTHER makes the old interfaces report 4096); BOTHER only for rates
// without one (2000, 10400, a custom rate from the dialog).
tcflag_t SpeedFlag(uint32_t baud)
{
    static constexpr struct {
        uint32_t rate;
        tcflag_t flag;
    } kStandard[] = {
        {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
        {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& s : kStandard)
        if (s.rate == baud)
            return s.flag;
    return BOTHER;
}

int64_t NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t MsToNs(int64_t ms) { return ms * 1000000; }

// A limit of n bytes under multiplier and constant; kNone when both are off.
int64_t LimitNs(int32_t multiplier, int32_t constant, size_t count)
{
    const int64_t m = multiplier > 0 ? multiplier : 0;
    const int64_t c = constant > 0 ? constant : 0;
    if (m == 0 && c == 0)
        return kNone;
    return MsToNs(m * int64_t(count) + c);
}

// Waits for `events` on fd until the absolute monotonic time `deadline`
// (kNone: no limit). Returns the revents (0 on time-out) or -errno.
int WaitFd(int fd, short events, int64_t deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        timespec ts{};
        timespec* tsp = nullptr;
        if (deadline != kNone) {
            const int64_t left = deadline - NowNs();
            if (left <= 0)
                return 0;
            ts.tv_sec = time_t(left / 1000000000);
            ts.tv_nsec = long(left % 1000000000);
            tsp = &ts;
        }
        const int r = ppoll(&p, 1, tsp, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (r == 0)
            return 0;
        return p.revents;
    }
}

// Pseudo-terminal slaves fix their character format (8 bits, no parity).
bool IsPseudoTerminal(int fd)
{
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

tcflag_t SizeFlag(uint8_t bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

uint8_t SizeBits(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

class TermiosDevice final : public ISerialDevice {
public:
    ~TermiosDevice() override { Close(); }

    int Open(const std::string& path) override
    {
        Close();
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        // One owner at a time, also within this process: the lock belongs to
        // this open, so a second open of the same device finds it taken.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = (errno == EWOULDBLOCK) ? EBUSY : errno;
            ::close(fd);
            return e;
        }
        if (ioctl(fd, TIOCEXCL) != 0) {
            const int e = errno;
            ::close(fd);
            return e;
        }
        fd_ = fd;
        isPty_ = IsPseudoTerminal(fd);
        timeouts_ = {};
        readPending_ = writePending_ = false;
        lastReadDone_ = lastWriteDone_ = 0;
        serial_icounter_struct ic{};
        haveCounters_ = ioctl(fd_, TIOCGICOUNT, &ic) == 0;
        if (haveCounters_)
            counters_ = ic;
        return 0;
    }

    void Close() override
    {
        if (fd_ < 0)
            return;
        // Whatever is still queued would hold the close up for as long as the
        // driver's closing wait; the caller has waited for its write already.
        ioctl(fd_, TCFLSH, TCOFLUSH);
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        readPending_ = writePending_ = false;
        pendingOut_.clear();
    }

    bool IsOpen() const override { return fd_ >= 0; }

    int GetLineSettings(TDeviceLineSettings& rec) override
    {
        if (fd_ < 0)
            return EBADF;
        termios2 t{};
        if (ioctl(fd_, TCGETS2, &t) != 0)
            return errno;
        rec = extras_;
        FromTermios(t, rec);
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) == 0) {
            rec.DtrControl = (lines & TIOCM_DTR) ? 1 : 0;
            if (rec.RtsControl != 2)
                rec.RtsControl = (lines & TIOCM_RTS) ? 1 : 0;
        }
        return 0;
    }

    int SetLineSettings(const TDeviceLineSettings& rec) override
    {
        if (fd_ < 0)
            return EBADF;
        if (rec.ByteSize < 5 || rec.ByteSize > 8 || rec.Parity > 4 || rec.StopBits > 2 || rec.BaudRate == 0)
            return EINVAL;
        termios2 t{};
        if (ioctl(fd_, TCGETS2, &t) != 0)
            return errno;
        // Raw bytes both ways; the character format stays as the record says.
        t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IUCLC | IMAXBEL);
        t.c_oflag &= ~tcflag_t(OPOST);
        t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;

        t.c_cflag &= ~tcflag_t(CBAUD | CIBAUD);
        t.c_cflag |= SpeedFlag(rec.BaudRate);
        t.c_ispeed = t.c_ospeed = rec.BaudRate;
        t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        t.c_cflag |= SizeFlag(rec.ByteSize);
        switch (rec.Parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (rec.StopBits != 0)
            t.c_cflag |= CSTOPB;
        if (rec.RtsControl == 2 || rec.fOutxCtsFlow)
            t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~tcflag_t(IXON | IXOFF | INPCK);
        if (rec.OutX)
            t.c_iflag |= IXON;
        if (rec.InX)
            t.c_iflag |= IXOFF;
        if (rec.fParity)
            t.c_iflag |= INPCK;
        t.c_cc[VSTART] = cc_t(rec.XonChar);
        t.c_cc[VSTOP] = cc_t(rec.XoffChar);

        if (ioctl(fd_, TCSETS2, &t) != 0)
            return errno;
        // The call succeeds when any one change took; see what is in force.
        termios2 back{};
        if (ioctl(fd_, TCGETS2, &back) != 0)
            return errno;
        if (!Took(t, back))
            return EINVAL;

        int bit = TIOCM_DTR;
        int r = ioctl(fd_, rec.DtrControl == 0 ? TIOCMBIC : TIOCMBIS, &bit);
        if (r != 0 && errno != ENOTTY && errno != EINVAL)
            return errno;
        if (rec.RtsControl != 2) {
            bit = TIOCM_RTS;
            r = ioctl(fd_, rec.RtsControl == 0 ? TIOCMBIC : TIOCMBIS, &bit);
            if (r != 0 && errno != ENOTTY && errno != EINVAL)
                return errno;
        }
        extras_ = rec;
        return 0;
    }

    // The kernel sizes its queues itself; the wish is kept for the record.
    int SetBufferSizes(int32_t input, int32_t output) override
    {
        if (fd_ < 0)
            return EBADF;
        if (input < 0 || output < 0)
            return EINVAL;
        return 0;
    }

    int GetTimeouts(TDeviceTimeouts& t) override
    {
        if (fd_ < 0)
            return EBADF;
        t = timeouts_;
        return 0;
    }

    int SetTimeouts(const TDeviceTimeouts& t) override
    {
        if (fd_ < 0)
            return EBADF;
        timeouts_ = t;
        return 0;
    }

    int Purge() override
    {
        if (fd_ < 0)
            return EBADF;
        readPending_ = writePending_ = false;
        pendingOut_.clear();
        if (ioctl(fd_, TCFLSH, TCIOFLUSH) != 0)
            return errno;
        return 0;
    }

    int InputCount(size_t& count) override
    {
        if (fd_ < 0)
            return EBADF;
        int n = 0;
        if (ioctl(fd_, FIONREAD, &n) != 0)
            return errno;
        count = n > 0 ? size_t(n) : 0;
        return 0;
    }

    int StartRead(void* buffer, size_t count) override
    {
        if (fd_ < 0)
            return EBADF;
        readBuf_ = static_cast<uint8_t*>(buffer);
        readCount_ = count;
        readDone_ = 0;
        const int64_t now = NowNs();
        const int64_t total = LimitNs(timeouts_.ReadMultiplier, timeouts_.ReadConstant, count);
        readDeadline_ = total == kNone ? kNone : now + total;
        lastByteAt_ = now;
        readPending_ = count > 0;
        lastReadDone_ = 0;
        if (!readPending_)
            return 0;
        bool progress = false;
        const int e = TakeAvailable(progress);
        if (e != 0)
            readPending_ = false;
        return e;
    }

    bool ReadPending() const override { return readPending_; }

    int FinishRead(size_t& done) override
    {
        while (readPending_) {
            int64_t deadline = readDeadline_;
            if (readDone_ > 0 && timeouts_.ReadInterval > 0) {
                const int64_t gap = lastByteAt_ + MsToNs(timeouts_.ReadInterval);
                if (deadline == kNone || gap < deadline)
                    deadline = gap;
            }
            const int rev = WaitFd(fd_, POLLIN, deadline);
            if (rev < 0) {
                readPending_ = false;
                return -rev;
            }
            if (rev == 0) { // a time-out ended the read
                readPending_ = false;
                break;
            }
            if (rev & POLLNVAL) {
                readPending_ = false;
                return EBADF;
            }
            bool progress = false;
            const int e = TakeAvailable(progress);
            if (e != 0) {
                readPending_ = false;
                return e;
            }
            if (!progress && (rev & (POLLHUP | POLLERR))) {
                // The far end is gone; waiting out the time-out would only
                // spin on the hang-up.
                readPending_ = false;
                return EIO;
            }
        }
        lastReadDone_ = readDone_;
        done = lastReadDone_;
        return 0;
    }

    int StartWrite(const void* buffer, size_t count) override
    {
        if (fd_ < 0)
            return EBADF;
        const auto* p = static_cast<const uint8_t*>(buffer);
        pendingOut_.assign(p, p + count);
        writeCount_ = count;
        lastWriteDone_ = 0;
        const int64_t total = LimitNs(timeouts_.WriteMultiplier, timeouts_.WriteConstant, count);
        writeDeadline_ = total == kNone ? kNone : NowNs() + total;
        writePending_ = count > 0;
        if (!writePending_)
            return 0;
        const int e = PushPending();
        if (e != 0) {
            writePending_ = false;
            pendingOut_.clear();
        }
        return e;
    }

    bool WritePending() const override { return writePending_; }

    int FinishWrite(size_t& done) override
    {
        if (!writePending_) {
            done = lastWriteDone_;
            return 0;
        }
        writePending_ = false;
        // Hand over what the kernel could not take at once.
        while (!pendingOut_.empty()) {
            const int rev = WaitFd(fd_, POLLOUT, writeDeadline_);
            if (rev < 0)
                return Fail(-rev);
            if (rev == 0)
                break;
            if (rev & POLLNVAL)
                return Fail(EBADF);
            if (rev & (POLLHUP | POLLERR))
                return Fail(EIO);
            const int e = PushPending();
            if (e != 0)
                return Fail(e);
        }
        // Then let the queue run empty. A pseudo-terminal hands bytes over at
        // once; a real line needs its character times, which is what we wait.
        size_t queued = 0;
        for (;;) {
            int q = 0;
            if (ioctl(fd_, TIOCOUTQ, &q) != 0)
                q = 0;
            queued = q > 0 ? size_t(q) : 0;
            if (queued == 0 || !pendingOut_.empty())
                break;
            int64_t wait = int64_t(queued) * CharTimeNs();
            if (writeDeadline_ != kNone) {
                const int64_t left = writeDeadline_ - NowNs();
                if (left <= 0)
                    break;
                if (wait > left)
                    wait = left;
            }
            if (wait < 100000)
                wait = 100000;
            timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
            nanosleep(&ts, nullptr);
        }
        const size_t unsent = pendingOut_.size() + queued;
        if (unsent > 0) {
            // The write ran out of time: what is left is given up, so that a
            // stalled line does not hold the next write as well.
            ioctl(fd_, TCFLSH, TCOFLUSH);
            pendingOut_.clear();
        }
        lastWriteDone_ = writeCount_ > unsent ? writeCount_ - unsent : 0;
        done = lastWriteDone_;
        return 0;
    }

    int TakeLineErrors(TLineErrors& errors) override
    {
        errors = {};
        if (fd_ < 0 || !haveCounters_)
            return 0;
        serial_icounter_struct ic{};
        if (ioctl(fd_, TIOCGICOUNT, &ic) != 0)
            return 0;
        if (ic.brk != counters_.brk)
            errors.Include(leBreak);
        if (ic.frame != counters_.frame)
            errors.Include(leFrame);
        if (ic.overrun != counters_.overrun)
            errors.Include(leOverrun);
        if (ic.parity != counters_.parity)
            errors.Include(leParity);
        if (ic.buf_overrun != counters_.buf_overrun)
            errors.Include(leRxOverflow);
        counters_ = ic;
        return 0;
    }

private:
    int Fail(int e)
    {
        pendingOut_.clear();
        lastWriteDone_ = 0;
        return e;
    }

    // Moves what has arrived into the read buffer without blocking.
    int TakeAvailable(bool& progress)
    {
        while (readDone_ < readCount_) {
            const ssize_t n = ::read(fd_, readBuf_ + readDone_, readCount_ - readDone_);
            if (n > 0) {
                readDone_ += size_t(n);
                lastByteAt_ = NowNs();
                progress = true;
                continue;
            }
            if (n == 0)
                return EIO; // end of file: the device hung up
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return errno;
        }
        if (readDone_ == readCount_) {
            readPending_ = false;
            lastReadDone_ = readDone_;
        }
        return 0;
    }

    int PushPending()
    {
        while (!pendingOut_.empty()) {
            const ssize_t n = ::write(fd_, pendingOut_.data(), pendingOut_.size());
            if (n > 0) {
                pendingOut_.erase(pendingOut_.begin(), pendingOut_.begin() + n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            return n < 0 ? errno : EIO;
        }
        return 0;
    }

    // Time of one character on the line (start, data, parity, stop bits).
    int64_t CharTimeNs() const
    {
        const uint32_t baud = extras_.BaudRate ? extras_.BaudRate : 9600;
        const int bits = 1 + extras_.ByteSize + (extras_.Parity ? 1 : 0) + (extras_.StopBits ? 2 : 1);
        return int64_t(bits) * 1000000000 / baud + 1;
    }

    bool Took(const termios2& want, const termios2& got) const
    {
        tcflag_t mask = CRTSCTS;
        if (!isPty_)
            mask |= CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        if ((want.c_cflag & mask) != (got.c_cflag & mask))
            return false;
        const tcflag_t imask = IXON | IXOFF;
        if ((want.c_iflag & imask) != (got.c_iflag & imask))
            return false;
        // Drivers may round the rate a little.
        const int64_t w = want.c_ospeed, g = got.c_ospeed;
        return (w > g ? w - g : g - w) * 100 <= w * 3;
    }

public:
    static void FromTermios(const termios2& t, TDeviceLineSettings& rec)
    {
        rec.BaudRate = t.c_ospeed;
        rec.ByteSize = SizeBits(t.c_cflag);
        if (!(t.c_cflag & PARENB))
            rec.Parity = 0;
        else if (t.c_cflag & CMSPAR)
            rec.Parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
            rec.Parity = (t.c_cflag & PARODD) ? 1 : 2;
        rec.StopBits = (t.c_cflag & CSTOPB) ? (rec.ByteSize == 5 ? 1 : 2) : 0;
        const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
        rec.fOutxCtsFlow = rtscts;
        if (rtscts)
            rec.RtsControl = 2;
        else if (rec.RtsControl == 2)
            rec.RtsControl = 1;
        rec.OutX = (t.c_iflag & IXON) != 0;
        rec.InX = (t.c_iflag & IXOFF) != 0;
        rec.fParity = (t.c_iflag & INPCK) != 0;
        rec.XonChar = char(t.c_cc[VSTART]);
        rec.XoffChar = char(t.c_cc[VSTOP]);
    }

private:
    int fd_ = -1;
    bool isPty_ = false;
    TDeviceTimeouts timeouts_{};
    // Fields termios has no place for, as last set.
    TDeviceLineSettings extras_{};
    bool haveCounters_ = false;
    serial_icounter_struct counters_{};

    uint8_t* readBuf_ = nullptr;
    size_t readCount_ = 0, readDone_ = 0, lastReadDone_ = 0;
    int64_t readDeadline_ = kNone, lastByteAt_ = 0;
    bool readPending_ = false;

    std::vector<uint8_t> pendingOut_;
    size_t writeCount_ = 0, lastWriteDone_ = 0;
    int64_t writeDeadline_ = kNone;
    bool writePending_ = false;
};

} // namespace

std::unique_ptr<ISerialDevice> CreateSystemSerialDevice()
{
    return std::make_unique<TermiosDevice>();
}

int ProbeLineSettings(const std::string& path, TDeviceLineSettings& rec)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    termios2 t{};
    int e = 0;
    if (ioctl(fd, TCGETS2, &t) != 0) {
        e = errno;
    } else {
        rec = TDeviceLineSettings{};
        TermiosDevice::FromTermios(t, rec);
        int lines = 0;
        if (ioctl(fd, TIOCMGET, &lines) == 0) {
            rec.DtrControl = (lines & TIOCM_DTR) ? 1 : 0;
            if (rec.RtsControl != 2)
                rec.RtsControl = (lines & TIOCM_RTS) ? 1 : 0;
        }
    }
    ::close(fd);
    return e;
}

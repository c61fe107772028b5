#include "sim/PtyPeer.h"
#include "sim/SimInstrument.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Printable(const std::string& bytes)
{
    std::string out;
    char buf[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

} // namespace

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = name;
    // Raw on both sides: no echo, no line editing, no CR/LF translation,
    // whatever the near end does with the settings later.
    termios t{};
    if (tcgetattr(slave_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

PtyPeer::~PtyPeer()
{
    Stop();
    CloseMaster();
    if (deadMaster_ >= 0)
        ::close(deadMaster_);
    if (slave_ >= 0)
        ::close(slave_);
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

// --- script ------------------------------------------------------------------

PtyPeer& PtyPeer::Expect(std::string bytes, int timeoutMs)
{
    steps_.push_back([bytes = std::move(bytes), timeoutMs](PtyPeer& p) {
        const int64_t end = NowMs() + timeoutMs;
        for (;;) {
            {
                std::lock_guard<std::mutex> lk(p.mu_);
                const size_t n = std::min(p.unread_.size(), bytes.size());
                if (p.unread_.compare(0, n, bytes, 0, n) != 0) {
                    const std::string got = p.unread_.substr(0, n);
                    p.unread_.erase(0, n);
                    p.failed_ = true;
                    p.failure_ = "expected \"" + Printable(bytes) + "\", received \"" + Printable(got) + "\"";
                    return false;
                }
                if (n == bytes.size()) {
                    p.unread_.erase(0, n);
                    return true;
                }
            }
            const int64_t left = end - NowMs();
            if (left <= 0) {
                p.Fail("expected \"" + Printable(bytes) + "\", timed out");
                return false;
            }
            if (!p.Pump(int(left)))
                return false;
        }
    });
    return *this;
}

PtyPeer& PtyPeer::Send(std::string bytes, int delayMs)
{
    steps_.push_back([bytes = std::move(bytes), delayMs](PtyPeer& p) {
        if (delayMs > 0 && !p.Pause(delayMs))
            return false;
        if (!p.WriteAll(bytes)) {
            p.Fail("could not send \"" + Printable(bytes) + "\"");
            return false;
        }
        return true;
    });
    return *this;
}

PtyPeer& PtyPeer::SendSpaced(std::string bytes, int gapMs)
{
    for (char c : bytes)
        Send(std::string(1, c), gapMs);
    return *this;
}

PtyPeer& PtyPeer::Silence(int ms)
{
    steps_.push_back([ms](PtyPeer& p) { return p.Pause(ms); });
    return *this;
}

PtyPeer& PtyPeer::HangUp(int delayMs)
{
    steps_.push_back([delayMs](PtyPeer& p) {
        if (delayMs > 0 && !p.Pause(delayMs))
            return false;
        p.CloseMaster();
        return true;
    });
    return *this;
}

PtyPeer& PtyPeer::Serve(std::function<std::string(uint8_t)> reply)
{
    steps_.push_back([reply = std::move(reply)](PtyPeer& p) {
        for (;;) {
            std::string in;
            {
                std::lock_guard<std::mutex> lk(p.mu_);
                in.swap(p.unread_);
            }
            for (unsigned char c : in) {
                const std::string out = reply(c);
                if (!out.empty() && !p.WriteAll(out))
                    return false;
            }
            if (!p.Pump(-1))
                return true; // stopped or hung up: the service simply ends
        }
    });
    return *this;
}

namespace {

class PeerLine final : public ISimLine {
public:
    explicit PeerLine(PtyPeer& peer, std::string& out, bool& hangUp) : peer_(peer), out_(out), hangUp_(hangUp) {}
    void Send(const std::string& bytes) override { out_ += bytes; }
    void HangUp() override { hangUp_ = true; }
    int64_t NowMs() const override { return ::NowMs(); }

private:
    PtyPeer& peer_;
    std::string& out_;
    bool& hangUp_;
};

} // namespace

PtyPeer& PtyPeer::Host(ISimInstrument& instrument, int tickMs)
{
    steps_.push_back([&instrument, tickMs](PtyPeer& p) {
        const int tick = tickMs > 0 ? tickMs : 1;
        for (;;) {
            std::string in;
            {
                std::lock_guard<std::mutex> lk(p.mu_);
                in.swap(p.unread_);
            }
            std::string out;
            bool hangUp = false;
            {
                // Bytes are sent in the order the instrument produced them;
                // a hang-up asked for mid-batch still lets what came before
                // it go out first.
                std::lock_guard<std::mutex> ik(p.instrumentMu_);
                PeerLine line(p, out, hangUp);
                for (unsigned char c : in) {
                    instrument.OnByte(c, line);
                    if (hangUp)
                        break;
                }
                if (!hangUp)
                    instrument.OnTick(line);
            }
            if (!out.empty() && !p.WriteAll(out))
                return true;
            if (hangUp) {
                p.CloseMaster();
                return true;
            }
            if (!p.Pump(tick)) {
                std::lock_guard<std::mutex> lk(p.mu_);
                if (p.stop_ || p.master_ < 0)
                    return true;
            }
        }
    });
    return *this;
}

void PtyPeer::WithInstrument(const std::function<void()>& fn)
{
    std::lock_guard<std::mutex> ik(instrumentMu_);
    fn();
}

PtyPeer& PtyPeer::Do(std::function<void(PtyPeer&)> step)
{
    steps_.push_back([step = std::move(step)](PtyPeer& p) {
        step(p);
        return !p.Failed();
    });
    return *this;
}

void PtyPeer::Start()
{
    if (thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lk(mu_);
        done_ = stop_ = false;
    }
    thread_ = std::thread([this] { Run(); });
}

void PtyPeer::Run()
{
    for (auto& step : steps_) {
        if (!step(*this))
            break;
        std::lock_guard<std::mutex> lk(mu_);
        if (stop_)
            break;
    }
    {
        std::lock_guard<std::mutex> lk(mu_);
        done_ = true;
    }
    cv_.notify_all();
    // Keep taking what arrives (and hang-up requests) until stopped.
    while (Pump(-1)) {
    }
}

bool PtyPeer::Wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

void PtyPeer::Stop()
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        stop_ = true;
    }
    const char c = 's';
    [[maybe_unused]] ssize_t r = ::write(wake_[1], &c, 1);
    if (thread_.joinable())
        thread_.join();
    // A later Start runs a fresh script.
    steps_.clear();
    char buf[64];
    while (::read(wake_[0], buf, sizeof buf) > 0) {
    }
    // The script is over, the line is not: direct reads from the calling
    // thread pump it themselves and must not find the stop request.
    std::lock_guard<std::mutex> lk(mu_);
    stop_ = false;
}

bool PtyPeer::Failed() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return failed_;
}

std::string PtyPeer::Failure() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return failure_;
}

std::string PtyPeer::Received() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return received_;
}

void PtyPeer::Fail(const std::string& why)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!failed_) {
        failed_ = true;
        failure_ = why;
    }
}

// --- the line ------------------------------------------------------------------

bool PtyPeer::Pause(int ms)
{
    const int64_t end = NowMs() + ms;
    for (;;) {
        const int64_t left = end - NowMs();
        if (left <= 0)
            return true;
        if (Pump(int(left)))
            continue;
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (stop_)
                return false;
        }
        // Hung up: nothing to read any more, but the pause lasts its time.
        pollfd w{wake_[0], POLLIN, 0};
        const int64_t rest = end - NowMs();
        if (rest > 0 && poll(&w, 1, int(rest)) > 0) {
            char c;
            while (::read(wake_[0], &c, 1) > 0) {
            }
        }
    }
}

bool PtyPeer::Pump(int ms)
{
    int fd;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (stop_ || master_ < 0)
            return false;
        fd = master_;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = poll(p, 2, ms);
    if (r < 0)
        return errno == EINTR;
    if (p[1].revents & POLLIN) {
        char c;
        while (::read(wake_[0], &c, 1) > 0) {
        }
    }
    std::unique_lock<std::mutex> lk(mu_);
    if (stop_ || master_ < 0)
        return false;
    if (p[0].revents & POLLIN) {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            received_.append(buf, size_t(n));
            unread_.append(buf, size_t(n));
        }
        cv_.notify_all();
    } else if (p[0].revents & (POLLHUP | POLLERR)) {
        // Nobody holds the near end right now (our own slave descriptor
        // keeps the line alive, so this passes); do not spin meanwhile.
        lk.unlock();
        pollfd w{wake_[0], POLLIN, 0};
        poll(&w, 1, ms < 0 || ms > 5 ? 5 : ms);
        lk.lock();
    }
    return !stop_ && master_ >= 0;
}

bool PtyPeer::WriteAll(const std::string& bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        int fd;
        {
            std::lock_guard<std::mutex> lk(mu_);
            fd = master_;
        }
        if (fd < 0)
            return false;
        const ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}

void PtyPeer::CloseMaster()
{
    std::lock_guard<std::mutex> lk(mu_);
    if (master_ >= 0) {
        // dup2 closes the pty master at once (the near end sees the hang-up)
        // but leaves its number taken, so another thread still holding the
        // number reads or writes /dev/null instead of somebody else's file.
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0 && ::dup2(null, master_) >= 0) {
            ::close(null);
            deadMaster_ = master_;
        } else {
            if (null >= 0)
                ::close(null);
            ::close(master_);
        }
        master_ = -1;
        hungUp_ = true;
    }
    const char c = 'h';
    [[maybe_unused]] ssize_t r = ::write(wake_[1], &c, 1);
}

// --- from the calling thread ---------------------------------------------------

bool PtyPeer::WriteNow(const std::string& bytes)
{
    return WriteAll(bytes);
}

void PtyPeer::HangUpNow()
{
    CloseMaster();
}

bool PtyPeer::HungUp() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return hungUp_;
}

std::string PtyPeer::TakeReceived()
{
    if (!thread_.joinable())
        Pump(0);
    std::lock_guard<std::mutex> lk(mu_);
    std::string out;
    out.swap(unread_);
    return out;
}

std::string PtyPeer::ReadNow(size_t count, int timeoutMs)
{
    const int64_t end = NowMs() + timeoutMs;
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(mu_);
            if (unread_.size() >= count || NowMs() >= end) {
                std::string out = unread_.substr(0, std::min(count, unread_.size()));
                unread_.erase(0, out.size());
                return out;
            }
            if (thread_.joinable()) {
                cv_.wait_for(lk, std::chrono::milliseconds(std::max<int64_t>(1, end - NowMs())));
                continue;
            }
        }
        Pump(int(std::max<int64_t>(1, end - NowMs())));
    }
}

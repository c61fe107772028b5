#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ISimInstrument;

// The far end of a serial line for tests and simulated instruments: a
// pseudo-terminal whose slave path stands in for a serial device, and a
// thread on the master side that plays a script (expect these bytes, answer
// those after a pause, stay silent, hang up). It knows nothing of the port
// component that talks to it.
//
// The peer keeps a slave descriptor of its own open for its whole life, so
// that the line survives the other side's closes and reopens; closing the
// master (HangUp) is what the other side sees as the device going away.
class PtyPeer {
public:
    PtyPeer();                 // throws std::runtime_error when no pty can be had
    ~PtyPeer();                // stops the script and closes everything
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The device path to open at the near end (/dev/pts/N).
    const std::string& SlavePath() const { return slavePath_; }

    // --- script steps, played in order after Start() -------------------------
    // Waits until the next bytes received are exactly these (a different byte
    // or no byte within the time fails the script).
    PtyPeer& Expect(std::string bytes, int timeoutMs = 5000);
    // Sends the bytes after a pause.
    PtyPeer& Send(std::string bytes, int delayMs = 0);
    // Sends the bytes one at a time with a pause before each.
    PtyPeer& SendSpaced(std::string bytes, int gapMs);
    // Does nothing for a while (bytes that arrive meanwhile are kept).
    PtyPeer& Silence(int ms);
    // Closes the master side after a pause: the near end sees a hang-up.
    PtyPeer& HangUp(int delayMs = 0);
    // Answers every received byte with what `reply` returns, until Stop() or
    // a hang-up. A simulated instrument is one such handler.
    PtyPeer& Serve(std::function<std::string(uint8_t)> reply);
    // Hosts a simulated instrument until Stop() or a hang-up: every received
    // byte goes to it, and it is ticked at least every tickMs so it can talk
    // on its own. The instrument must outlive the peer's script.
    PtyPeer& Host(ISimInstrument& instrument, int tickMs = 5);
    // Runs `fn` while the hosted instrument is not being called, so a test or
    // the program can change its settings safely from another thread.
    void WithInstrument(const std::function<void()>& fn);
    // Runs `step` on the peer's thread (for anything the steps above lack).
    PtyPeer& Do(std::function<void(PtyPeer&)> step);

    void Start();
    // Waits for the script to end; false when it has not ended in time.
    bool Wait(int timeoutMs);
    // Ends the script (a Serve step, a pause) and joins the thread.
    void Stop();

    bool Failed() const;
    std::string Failure() const;
    // Every byte the peer has received so far.
    std::string Received() const;

    // --- direct use from the calling thread ---------------------------------
    // Writes to the line at once (false after a hang-up or on failure).
    bool WriteNow(const std::string& bytes);
    void HangUpNow();
    bool HungUp() const;
    // Bytes received and not yet taken by an Expect step, taken now.
    std::string TakeReceived();
    // Waits up to timeoutMs for `count` received bytes not yet taken; returns them.
    std::string ReadNow(size_t count, int timeoutMs);

private:
    using Step = std::function<bool(PtyPeer&)>;
    void Run();
    // Pauses up to ms while reading what arrives; false when stopped.
    bool Pause(int ms);
    // Reads what is there, waiting up to ms for something; false when stopped
    // or the line is gone.
    bool Pump(int ms);
    void Fail(const std::string& why);
    bool WriteAll(const std::string& bytes);
    void CloseMaster();

    int master_ = -1;
    // After a hang-up the master's descriptor number stays taken by
    // /dev/null until the peer goes, so a read or write racing the hang-up
    // can never reach a file opened meanwhile under the same number.
    int deadMaster_ = -1;
    std::mutex instrumentMu_;
    int slave_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    std::vector<Step> steps_;
    std::thread thread_;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::string received_;     // everything
    std::string unread_;       // not yet taken by Expect / ReadNow
    std::string failure_;
    bool failed_ = false;
    bool done_ = false;
    bool stop_ = false;
    bool hungUp_ = false;
};

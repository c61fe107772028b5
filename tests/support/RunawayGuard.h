#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

// Thrown by a fake host once the loop it serves has run away.
struct RunawayLoop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Counts the calls a fake host receives. Past the limit (or, when one is
// given, past a time on the real clock) it fails the test and throws
// RunawayLoop, so a loop that never ends (on a fake clock that only moves
// when the code sleeps, or waiting for a click a test failed to make) fails
// at once instead of hanging the test until the runner's time-out.
class RunawayGuard {
public:
    explicit RunawayGuard(long limit = 5'000'000, int realSeconds = 0) : limit_(limit), seconds_(realSeconds) {}
    void Count(const char* what)
    {
        ++calls_;
        const bool tooLong =
            seconds_ > 0 && std::chrono::steady_clock::now() - started_ > std::chrono::seconds(seconds_);
        if (calls_ <= limit_ && !tooLong)
            return;
        const std::string why = std::string("host: ") +
                                (tooLong ? "more than " + std::to_string(seconds_) + " s"
                                         : "more than " + std::to_string(limit_) + " calls") +
                                " (last " + what + "); the loop under test never ends";
        if (!reported_) {
            reported_ = true;
            ADD_FAILURE() << why;
        }
        throw RunawayLoop(why);
    }
    long calls() const { return calls_; }
    void SetLimit(long limit) { limit_ = limit; }

private:
    long limit_;
    int seconds_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    long calls_ = 0;
    bool reported_ = false;
};

#pragma once
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

// Thrown by a fake host once the loop it serves has run away.
struct RunawayLoop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Counts the calls a fake host receives. Past the limit it fails the test and
// throws RunawayLoop, so a loop that never ends on a fake clock (one that only
// moves when the code sleeps) fails at once instead of hanging the test until
// the runner's time-out.
class RunawayGuard {
public:
    explicit RunawayGuard(long limit = 5'000'000) : limit_(limit) {}
    void Count(const char* what)
    {
        if (++calls_ <= limit_)
            return;
        const std::string why = std::string("fake host: more than ") + std::to_string(limit_) +
                                " calls (last " + what + "); the loop under test never ends";
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
    long calls_ = 0;
    bool reported_ = false;
};

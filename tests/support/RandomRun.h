#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

// The seed and length of a seeded random user's run: ULMARO_STATES_SEED
// replays a seed, ULMARO_STATES_ACTIONS sets the number of actions; else a
// fresh seed and `defaultActions`. The seed is printed at once, so a run
// that hangs still names it.
struct TRandomRun {
    unsigned seed;
    int actions;

    TRandomRun(const char* name, int defaultActions)
    {
        const char* envActions = std::getenv("ULMARO_STATES_ACTIONS");
        const char* envSeed = std::getenv("ULMARO_STATES_SEED");
        actions = envActions ? std::max(1, std::atoi(envActions)) : defaultActions;
        seed = envSeed ? unsigned(std::strtoul(envSeed, nullptr, 10))
                       : unsigned(std::chrono::steady_clock::now().time_since_epoch().count());
        std::printf("%s: seed %u, %d actions\n", name, seed, actions);
        std::fflush(stdout);
    }
    // For SCOPED_TRACE: how to replay this run.
    std::string Replay() const
    {
        return "seed " + std::to_string(seed) + " (replay: ULMARO_STATES_SEED=" + std::to_string(seed) + ")";
    }
};

#pragma once
// A simulated tera-ohmmeter on a pseudo-terminal and a real port opened on it.
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimOhmra.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

struct OhmraBench {
    SimOhmra sim;
    PtyPeer peer;
    TComPort port;

    explicit OhmraBench(int readTimeoutMs = 1500)
    {
        peer.Host(sim, 2);
        peer.Start();
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadConstant(readTimeoutMs);
        port.Timeouts->WriteConstant(500);
        port.Open();
    }
    ~OhmraBench()
    {
        if (port.Active())
            port.Close();
        peer.Stop();
    }
    // Changes the simulator's settings safely while it runs.
    void Sim(const std::function<void(SimOhmra&)>& f)
    {
        peer.WithInstrument([&] { f(sim); });
    }
    std::vector<std::string> Commands()
    {
        std::vector<std::string> c;
        peer.WithInstrument([&] { c = sim.CommandTexts(); });
        return c;
    }
    // Everything the instrument received, as spaced hex ("02 04 82 2D").
    std::string ReceivedHex() const { return Hex(peer.Received()); }
    static std::string Hex(const std::string& bytes)
    {
        static const char d[] = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : bytes) {
            if (!out.empty())
                out += ' ';
            out += d[c >> 4];
            out += d[c & 15];
        }
        return out;
    }
    // Polls until `cond` holds or the time is up.
    static bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return cond();
    }
};

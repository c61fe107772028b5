#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class ISimInstrument;
class PtyPeer;

// The simulated bench of --demo, set up once by the program's entry: the
// simulated USB converter becomes the converter code's function table, and
// each simulated serial instrument is hosted on a pseudo-terminal of its own,
// offered in the port list under a plain name ("Karvo (simulated)") next to
// the real ports. Choosing that name opens its pseudo-terminal like any port.
class TDemoBench {
public:
    TDemoBench();
    // Takes the converter table back and removes the ports it offered.
    ~TDemoBench();
    TDemoBench(const TDemoBench&) = delete;
    TDemoBench& operator=(const TDemoBench&) = delete;

    // Hosts `instrument` on a pseudo-terminal and offers it as `name`.
    // Returns the peer (for tests that want to reach the instrument).
    PtyPeer& Add(const QString& name, std::unique_ptr<ISimInstrument> instrument);

    // Every simulated instrument the program knows, added in list order.
    void AddAllInstruments();

private:
    struct Hosted;
    std::vector<std::unique_ptr<Hosted>> hosted_;
};

// A serial instrument simulator of --demo: the name its port is listed
// under and how it is made.
struct TDemoInstrument {
    const char* PortName;
    std::function<std::unique_ptr<ISimInstrument>()> Make;
};
// The list AddAllInstruments works through.
const std::vector<TDemoInstrument>& DemoInstruments();

#include "app/DemoBench.h"

#include "acquisition/UsbApi.h"
#include "app/SimUsbApi.h"
#include "serial/NamedPorts.h"
#include "sim/PtyPeer.h"
#include "sim/SimGripo.h"
#include "sim/SimKarvo.h"
#include "sim/SimOhmra.h"
#include "sim/SimInstrument.h"

// One line per serial instrument simulator.
const std::vector<TDemoInstrument>& DemoInstruments()
{
    static const std::vector<TDemoInstrument> list = {
        {"Karvo (simulated)", [] { return std::unique_ptr<ISimInstrument>(new SimKarvo()); }},
        {"Gripo (simulated)", [] {
             auto g = std::make_unique<SimGripo>();
             g->Total = 120;
             g->WristLow = 3;
             g->WristHigh = 1;
             g->ShoeLow = 2;
             g->CountsThePress = true;
             return std::unique_ptr<ISimInstrument>(std::move(g));
         }},
        {"Ohmra (simulated)", [] {
             auto o = std::make_unique<SimOhmra>();
             o->Wander = true;
             return std::unique_ptr<ISimInstrument>(std::move(o));
         }},
    };
    return list;
}

struct TDemoBench::Hosted {
    QString name;
    std::unique_ptr<ISimInstrument> instrument;
    // Declared after the instrument, so it stops (and lets go of it) first.
    std::unique_ptr<PtyPeer> peer;
};

TDemoBench::TDemoBench() { SetUsbApi(&SimulatedUsbApi()); }

TDemoBench::~TDemoBench()
{
    for (auto& h : hosted_)
        h->peer->Stop();
    hosted_.clear();
    ClearNamedPorts();
    SetUsbApi(nullptr);
}

PtyPeer& TDemoBench::Add(const QString& name, std::unique_ptr<ISimInstrument> instrument)
{
    auto h = std::make_unique<Hosted>();
    h->name = name;
    h->instrument = std::move(instrument);
    h->peer = std::make_unique<PtyPeer>();
    h->peer->Host(*h->instrument).Start();
    AddNamedPort(name, QString::fromStdString(h->peer->SlavePath()));
    hosted_.push_back(std::move(h));
    return *hosted_.back()->peer;
}

void TDemoBench::AddAllInstruments()
{
    for (const TDemoInstrument& i : DemoInstruments())
        Add(QString::fromUtf8(i.PortName), i.Make());
}

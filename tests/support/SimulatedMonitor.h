#pragma once
// The charge plate monitor's windows against a simulated monitor on a
// pseudo-terminal, as the decay-window tests build them: a fresh line on
// each connect (after a hang-up: the cable back in), and everything torn
// down again afterwards.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"

#include <memory>

// A new simulated monitor (quick frames and decays) on a new line, and the
// port opened on it with the given read and write time-outs.
inline void ConnectSimulatedMonitor(TComPort& port, std::unique_ptr<SimKarvo>& sim, std::unique_ptr<PtyPeer>& peer,
                                    int32_t readConstantMs, int32_t writeConstantMs)
{
    port.Close();
    if (peer)
        peer->Stop();
    peer.reset();
    sim = std::make_unique<SimKarvo>();
    sim->FramePeriodMs = 10;
    sim->DecayTauMs = 150;
    peer = std::make_unique<PtyPeer>();
    peer->Host(*sim, 2);
    peer->Start();
    port.DeviceName(peer->SlavePath());
    port.Timeouts->ReadInterval(0);
    port.Timeouts->ReadMultiplier(0);
    port.Timeouts->ReadConstant(readConstantMs);
    port.Timeouts->WriteConstant(writeConstantMs);
    port.Open();
}

// The three windows gone, their globals cleared.
inline void DeleteMonitorWindows()
{
    delete CPMSetup;
    delete FormReadCPMFiles;
    delete FormChartCPM;
    CPMSetup = nullptr;
    FormReadCPMFiles = nullptr;
    FormChartCPM = nullptr;
}

// The three windows and the protocol instances gone, the line closed, and
// the shared hooks and settings folder put back.
inline void TearDownMonitorWindows(TComPort& port, std::unique_ptr<PtyPeer>& peer)
{
    DeleteMonitorWindows();
    DestroyCpmInstances();
    port.Close();
    if (peer)
        peer->Stop();
    MainLink().ReturnToMain = nullptr;
    MainState = nullptr;
    SetSettingsDirectoryOverride("");
}

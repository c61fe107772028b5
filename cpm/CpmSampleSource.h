#pragma once
#include "acquisition/SampleSource.h"

class C_CPM_EF;

// The charge plate monitor as the chart's or the display window's source
// (device codes 101 to 103): Prepare opens the port (the chart closes it
// first), writes the mode and range as the setup block, waits 500 ms and
// reads the display once for the unit; every sample reads the display.
// When the loop ended by an error the port is closed, so that the next Start
// opens the device afresh (after a hang-up, say) instead of reusing it.
class TCpmSampleSource : public ISampleSource {
public:
    TCpmSampleSource(C_CPM_EF& cpm, bool reopenPort) : cpm_(cpm), reopen_(reopenPort) {}
    bool Prepare(int deviceCode, int rangeCode, QString& unit) override;
    double ReadSample(int deviceCode) override;
    void Finish() override;
    void Release() override;

    C_CPM_EF& Instrument() { return cpm_; }

private:
    C_CPM_EF& cpm_;
    bool reopen_;
    bool failed_ = false;
};

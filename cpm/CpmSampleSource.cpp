#include "cpm/CpmSampleSource.h"

#include "cpm/C_CPM_EF.h"
#include "platform/Host.h"
#include "serial/ComPort.h"

bool TCpmSampleSource::Prepare(int deviceCode, int rangeCode, QString& unit)
{
    failed_ = true; // until the preparation went through
    TCustomComPort& port = cpm_.Port();
    if (reopen_)
        port.Close();
    port.Open();
    cpm_.FillReadingSetup(deviceCode, rangeCode);
    cpm_.WriteSetup();
    Host().Sleep(500);
    double value = 0;
    cpm_.ReadDisplay(value, unit);
    failed_ = false;
    return true;
}

double TCpmSampleSource::ReadSample(int)
{
    failed_ = true;
    double value = 0;
    QString unit; // the loop keeps the unit it started with
    cpm_.ReadDisplay(value, unit);
    failed_ = false;
    return value;
}

void TCpmSampleSource::Finish()
{
    if (failed_) {
        try {
            cpm_.Port().Close();
        } catch (...) {
            // The error that ended the loop is the one the user is told about.
        }
    }
    failed_ = false;
}

void TCpmSampleSource::Release()
{
    cpm_.Port().Close();
}

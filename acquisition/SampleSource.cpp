#include "acquisition/SampleSource.h"

#include "acquisition/CAD_wandler.h"

#include <stdexcept>

const char* const NoCpmSourceMessage =
    "The charge plate monitor cannot be read from this view.";

TSerialSources& SerialSources()
{
    static TSerialSources sources;
    return sources;
}

bool TUsbSampleSource::Prepare(int, int, QString&)
{
    return usb_.Wandler.OpenDevice() >= 1;
}

double TUsbSampleSource::ReadSample(int)
{
    double millivolts = 0;
    usb_.Wandler.ReadAveraged(millivolts);
    return millivolts * 0.001;
}

bool TDeviceSampleSource::Prepare(int deviceCode, int rangeCode, QString& unit)
{
    if (deviceCode < 100) {
        running_ = &usb_;
    } else {
        if (!cpm_)
            throw std::runtime_error(NoCpmSourceMessage);
        running_ = cpm_;
    }
    return running_->Prepare(deviceCode, rangeCode, unit);
}

double TDeviceSampleSource::ReadSample(int deviceCode)
{
    if (deviceCode < 100)
        return usb_.ReadSample(deviceCode);
    if (!cpm_)
        throw std::runtime_error(NoCpmSourceMessage);
    return cpm_->ReadSample(deviceCode);
}

void TDeviceSampleSource::Finish()
{
    if (running_)
        running_->Finish();
    running_ = nullptr;
}

void TDeviceSampleSource::Release()
{
    // Stop closes the serial port whatever the device code.
    if (cpm_)
        cpm_->Release();
}

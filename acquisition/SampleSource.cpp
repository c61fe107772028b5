#include "acquisition/SampleSource.h"

#include "acquisition/CAD_wandler.h"

#include <stdexcept>

const char* const NoCpmSourceMessage =
    "The charge plate monitor cannot be read from this view.";

double TUsbSampleSource::ReadSample(int)
{
    double millivolts = 0;
    usb_.Wandler.ReadAveraged(millivolts);
    return millivolts * 0.001;
}

double TDeviceSampleSource::ReadSample(int deviceCode)
{
    if (deviceCode < 100)
        return usb_.ReadSample(deviceCode);
    if (!cpm_)
        throw std::runtime_error(NoCpmSourceMessage);
    return cpm_->ReadSample(deviceCode);
}

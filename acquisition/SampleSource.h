#pragma once

struct USB;

// Where the acquisition loops get their readings from. The loops ask afresh
// for every sample with the device code in force, so a range chosen while a
// loop runs changes the source from the next sample on.
class ISampleSource {
public:
    virtual ~ISampleSource() = default;
    // Device codes below 100: the converter voltage in volts. 100 and above:
    // the charge plate monitor's display value, not yet multiplied by the
    // range factor. Failures of a serial instrument are thrown.
    virtual double ReadSample(int deviceCode) = 0;
};

// The USB converter through a window's own converter record.
class TUsbSampleSource : public ISampleSource {
public:
    explicit TUsbSampleSource(USB& usb) : usb_(usb) {}
    double ReadSample(int deviceCode) override;

private:
    USB& usb_;
};

// The sources of one window: the converter for codes below 100 and, once a
// window hands one in, the charge plate monitor for 100 and above. Without
// the latter, a code of 100 or more throws an error whose text names it.
class TDeviceSampleSource : public ISampleSource {
public:
    explicit TDeviceSampleSource(ISampleSource& usb, ISampleSource* cpm = nullptr)
        : usb_(usb), cpm_(cpm) {}
    void SetCpmSource(ISampleSource* cpm) { cpm_ = cpm; }
    bool HasCpmSource() const { return cpm_ != nullptr; }
    double ReadSample(int deviceCode) override;

private:
    ISampleSource& usb_;
    ISampleSource* cpm_;
};

// The text of the error a device without a reading source raises.
extern const char* const NoCpmSourceMessage;

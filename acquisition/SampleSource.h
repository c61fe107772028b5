#pragma once
#include <QString>

struct USB;

// Where the acquisition loops get their readings from. The loops ask afresh
// for every sample with the device code in force, so a range chosen while a
// loop runs changes the source from the next sample on.
class ISampleSource {
public:
    virtual ~ISampleSource() = default;
    // Before a loop: opens what the readings come from and readies it for the
    // device and range. False when it is not there (the converter missing);
    // an instrument's failure is thrown. A source whose instrument reports
    // its unit puts that into `unit`; otherwise `unit` is left alone.
    virtual bool Prepare(int deviceCode, int rangeCode, QString& unit)
    {
        (void)deviceCode, (void)rangeCode, (void)unit;
        return true;
    }
    // Device codes below 100: the converter voltage in volts. 100 and above:
    // the charge plate monitor's display value, not yet multiplied by the
    // range factor. Failures of a serial instrument are thrown.
    virtual double ReadSample(int deviceCode) = 0;
    // After a loop, however it ended.
    virtual void Finish() {}
    // Stop and Exit: lets go of the line (the serial port) until the next Prepare.
    virtual void Release() {}
};

// The USB converter through a window's own converter record.
class TUsbSampleSource : public ISampleSource {
public:
    explicit TUsbSampleSource(USB& usb) : usb_(usb) {}
    bool Prepare(int deviceCode, int rangeCode, QString& unit) override;
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
    bool Prepare(int deviceCode, int rangeCode, QString& unit) override;
    double ReadSample(int deviceCode) override;
    void Finish() override;
    void Release() override;

private:
    ISampleSource& usb_;
    ISampleSource* cpm_;
    ISampleSource* running_ = nullptr; // the one prepared last
};

// The text of the error a device without a reading source raises.
extern const char* const NoCpmSourceMessage;

// The charge plate monitor's sources of the main window's chart and of the
// display window. The program hands them in once the serial port exists;
// until then both stay null and a Start on a monitor range is refused.
struct TSerialSources {
    ISampleSource* Chart = nullptr;
    ISampleSource* Display = nullptr;
};
TSerialSources& SerialSources();

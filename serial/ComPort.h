#pragma once
#include "serial/ComTypes.h"
#include "serial/SerialDevice.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TCustomComPort;

// The settings groups of a port. Each keeps a back-pointer to its port; a
// property set to a new value re-applies its group at once while the port is
// open. Getter and setter share the property's name.
class TFlowControl {
public:
    explicit TFlowControl(TCustomComPort* port) : port_(port) {}
    TDTRControl DTR() const { return dtr_; }
    void DTR(TDTRControl v);
    TRTSControl RTS() const { return rts_; }
    void RTS(TRTSControl v);
    TXOnXOffControl XOnXOff() const { return xonxoff_; }
    void XOnXOff(TXOnXOffControl v);
    uint16_t XOnLimit() const { return xonLimit_; }
    void XOnLimit(uint16_t v);
    uint16_t XOffLimit() const { return xoffLimit_; }
    void XOffLimit(uint16_t v);

private:
    friend class TCustomComPort;
    TCustomComPort* port_;
    TDTRControl dtr_ = dcDefault;
    TRTSControl rts_ = rcDefault;
    TXOnXOffControl xonxoff_ = xcDefault;
    uint16_t xonLimit_ = 0, xoffLimit_ = 0;
};

class TCharacters {
public:
    explicit TCharacters(TCustomComPort* port) : port_(port) {}
    char XOn() const { return xon_; }
    void XOn(char v);
    char XOff() const { return xoff_; }
    void XOff(char v);
    char Error() const { return error_; }
    void Error(char v);
    char Eof() const { return eof_; }
    void Eof(char v);
    char Event() const { return event_; }
    void Event(char v);

private:
    friend class TCustomComPort;
    void Set(char& field, char v);
    TCustomComPort* port_;
    char xon_ = 0x11, xoff_ = 0x13, error_ = 0, eof_ = 0, event_ = 0;
};

class TBufferSizes {
public:
    explicit TBufferSizes(TCustomComPort* port) : port_(port) {}
    int32_t Input() const { return input_; }
    void Input(int32_t v);
    int32_t Output() const { return output_; }
    void Output(int32_t v);

private:
    TCustomComPort* port_;
    int32_t input_ = 4096, output_ = 2048;
};

class TTimeouts {
public:
    explicit TTimeouts(TCustomComPort* port) : port_(port) {}
    int32_t ReadInterval() const { return t_.ReadInterval; }
    void ReadInterval(int32_t v) { Set(t_.ReadInterval, v); }
    int32_t ReadMultiplier() const { return t_.ReadMultiplier; }
    void ReadMultiplier(int32_t v) { Set(t_.ReadMultiplier, v); }
    int32_t ReadConstant() const { return t_.ReadConstant; }
    void ReadConstant(int32_t v) { Set(t_.ReadConstant, v); }
    int32_t WriteMultiplier() const { return t_.WriteMultiplier; }
    void WriteMultiplier(int32_t v) { Set(t_.WriteMultiplier, v); }
    int32_t WriteConstant() const { return t_.WriteConstant; }
    void WriteConstant(int32_t v) { Set(t_.WriteConstant, v); }
    const TDeviceTimeouts& Record() const { return t_; }

private:
    void Set(int32_t& field, int32_t v);
    TCustomComPort* port_;
    TDeviceTimeouts t_{};
};

// One serial port: settings that default to "leave the device alone",
// blocking reads under the time-outs, writes that return at once. Every
// failure is an EComError. Runs on the caller's thread; starts none of its own.
class TCustomComPort {
public:
    TCustomComPort();
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // --- properties ------------------------------------------------------------
    bool Active() const { return device_ != nullptr && device_->IsOpen(); }
    void Active(bool on);
    TBaudRate BaudRate() const { return baudRate_; }
    void BaudRate(TBaudRate v);
    int32_t CustomBaudRate() const { return customBaudRate_; }
    void CustomBaudRate(int32_t v);
    TDataBits DataBits() const { return dataBits_; }
    void DataBits(TDataBits v);
    TParity Parity() const { return parity_; }
    void Parity(TParity v);
    TStopBits StopBits() const { return stopBits_; }
    void StopBits(TStopBits v);
    const std::string& DeviceName() const { return deviceName_; }
    // Accepted while closed; a different name while open is an error.
    void DeviceName(const std::string& name);
    TOptions Options() const { return options_; }
    void Options(TOptions v);
    TPriorityClass PriorityClass() const { return priorityClass_; }
    void PriorityClass(TPriorityClass v) { priorityClass_ = v; }
    bool SynchronizeEvents = true;
    int ThreadPriority = 0;

    TFlowControl* const FlowControl;
    TCharacters* const Characters;
    TBufferSizes* const BufferSizes;
    TTimeouts* const Timeouts;

    // --- events ----------------------------------------------------------------
    using TNotifyEvent = std::function<void(TCustomComPort&)>;
    TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TNotifyEvent BeforeRead, AfterRead, BeforeWrite, AfterWrite;
    // May turn the error into a silent abort (EComAbort) by setting caAbort.
    std::function<void(TCustomComPort&, const EComError&, TComAction&)> OnError;
    // Line errors collected after a read or write; without a handler they are dropped.
    std::function<void(TCustomComPort&, TLineErrors)> OnLineError;

    // --- operations ------------------------------------------------------------
    void Open();
    void Close();
    uint8_t ReadByte();
    char ReadChar();
    // The bytes already received; never waits for more.
    std::string ReadString();
    // Reads byte by byte up to and including the terminator.
    std::string ReadUntil(uint8_t terminator);
    std::string ReadLine() { return ReadUntil(13); }
    void WriteString(const std::string& text);
    void WriteChar(char c);
    void WriteByte(uint8_t b);
    // Shows the line settings dialog; a confirmed dialog makes every line
    // setting explicit and applies it at once when open.
    bool ConfigDialog();
    // Appends the system's serial ports by short name (ttyUSB0, ttyS0).
    static void EnumComDevicesFromRegistry(QStringList& list);

    // --- building blocks of the above ---------------------------------------
    size_t Read(void* buffer, size_t count, bool wait);
    size_t Write(const void* buffer, size_t count, bool wait);
    size_t InputCount();
    void WaitForReadCompletion();
    void WaitForWriteCompletion();
    void CheckLineErrors();
    [[noreturn]] void RaiseError(int32_t code, const std::string& message);
    // Turns a failed system call (its error number; 0 = success) into an EComError.
    void Check(int error);
    std::string ShortDeviceName() const;

    // The line settings dialog lives with the windows; they install it here.
    using TConfigDialogHook = std::function<bool(const std::string& portName, TDeviceLineSettings& rec)>;
    static TConfigDialogHook ConfigDialogHook;

    // Where Open gets its device from (tests may give a device of their own).
    using TDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;
    void SetDeviceFactory(TDeviceFactory factory) { factory_ = std::move(factory); }

    // The component's settings written over a device record (only what the
    // component decides), and back (every setting made explicit).
    void SettingsToRecord(TDeviceLineSettings& rec) const;
    void RecordToSettings(const TDeviceLineSettings& rec);

protected:
    virtual void CreateHandle();

private:
    friend class TFlowControl;
    friend class TCharacters;
    friend class TBufferSizes;
    friend class TTimeouts;
    void ApplyLineSettings();
    void ApplyBufferSizes();
    void ApplyTimeouts();
    void ReleaseHandle();
    [[noreturn]] void RaiseClosed() { RaiseError(0, kMsgClosedPort); }
    template <class T>
    void SetLineProperty(T& field, T v)
    {
        if (field == v)
            return;
        field = v;
        if (Active())
            ApplyLineSettings();
    }

    std::unique_ptr<ISerialDevice> device_;
    TDeviceFactory factory_;
    TBaudRate baudRate_ = brDefault;
    int32_t customBaudRate_ = 0;
    TDataBits dataBits_ = dbDefault;
    TParity parity_ = paDefault;
    TStopBits stopBits_ = sbDefault;
    std::string deviceName_ = "/dev/ttyS0";
    TOptions options_;
    TPriorityClass priorityClass_ = pcDefault;
    bool prioritySaved_ = false;
    int savedNice_ = 0;
    size_t readExpected_ = 0, writeExpected_ = 0;
};

// The port as the serial form carries it.
class TComPort : public TCustomComPort {
public:
    TComPort() = default;
};

#include "serial/ComPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

TCustomComPort::TConfigDialogHook TCustomComPort::ConfigDialogHook;

uint32_t BaudRateValue(TBaudRate br)
{
    static constexpr uint32_t rates[] = {0, 50, 75, 110, 150, 300, 600, 1200, 1800, 2000, 2400, 3600,
                                         4800, 7200, 9600, 10400, 14400, 15625, 19200, 28800, 38400,
                                         56000, 57600, 115200, 128000, 256000, 0};
    const unsigned i = unsigned(br);
    return i < sizeof(rates) / sizeof(rates[0]) ? rates[i] : 0;
}

// --- settings groups ---------------------------------------------------------

void TFlowControl::DTR(TDTRControl v) { port_->SetLineProperty(dtr_, v); }
void TFlowControl::RTS(TRTSControl v) { port_->SetLineProperty(rts_, v); }
void TFlowControl::XOnXOff(TXOnXOffControl v) { port_->SetLineProperty(xonxoff_, v); }
void TFlowControl::XOnLimit(uint16_t v) { port_->SetLineProperty(xonLimit_, v); }
void TFlowControl::XOffLimit(uint16_t v) { port_->SetLineProperty(xoffLimit_, v); }

void TCharacters::Set(char& field, char v) { port_->SetLineProperty(field, v); }
void TCharacters::XOn(char v) { Set(xon_, v); }
void TCharacters::XOff(char v) { Set(xoff_, v); }
void TCharacters::Error(char v) { Set(error_, v); }
void TCharacters::Eof(char v) { Set(eof_, v); }
void TCharacters::Event(char v) { Set(event_, v); }

void TBufferSizes::Input(int32_t v)
{
    if (input_ == v)
        return;
    input_ = v;
    if (port_->Active())
        port_->ApplyBufferSizes();
}

void TBufferSizes::Output(int32_t v)
{
    if (output_ == v)
        return;
    output_ = v;
    if (port_->Active())
        port_->ApplyBufferSizes();
}

void TTimeouts::Set(int32_t& field, int32_t v)
{
    if (field == v)
        return;
    field = v;
    if (port_->Active())
        port_->ApplyTimeouts();
}

// --- the port ------------------------------------------------------------------

TCustomComPort::TCustomComPort()
    : FlowControl(new TFlowControl(this)),
      Characters(new TCharacters(this)),
      BufferSizes(new TBufferSizes(this)),
      Timeouts(new TTimeouts(this)),
      factory_(CreateSystemSerialDevice)
{
}

TCustomComPort::~TCustomComPort()
{
    try {
        Close();
    } catch (...) {
        // A handler that throws while the program ends changes nothing.
        ReleaseHandle();
    }
    delete Timeouts;
    delete BufferSizes;
    delete Characters;
    delete FlowControl;
}

void TCustomComPort::Active(bool on)
{
    if (on)
        Open();
    else
        Close();
}

void TCustomComPort::BaudRate(TBaudRate v) { SetLineProperty(baudRate_, v); }
void TCustomComPort::CustomBaudRate(int32_t v) { SetLineProperty(customBaudRate_, v); }
void TCustomComPort::DataBits(TDataBits v) { SetLineProperty(dataBits_, v); }
void TCustomComPort::Parity(TParity v) { SetLineProperty(parity_, v); }
void TCustomComPort::StopBits(TStopBits v) { SetLineProperty(stopBits_, v); }
void TCustomComPort::Options(TOptions v) { SetLineProperty(options_, v); }

void TCustomComPort::DeviceName(const std::string& name)
{
    if (name == deviceName_)
        return;
    if (Active())
        RaiseError(0, kMsgOpenPort);
    deviceName_ = name;
}

std::string TCustomComPort::ShortDeviceName() const
{
    static const std::string prefix = "/dev/";
    if (deviceName_.compare(0, prefix.size(), prefix) == 0)
        return deviceName_.substr(prefix.size());
    return deviceName_;
}

void TCustomComPort::RaiseError(int32_t code, const std::string& message)
{
    EComError error(code, message);
    if (OnError) {
        TComAction action = caFail;
        OnError(*this, error, action);
        if (action == caAbort)
            throw EComAbort();
    }
    throw error;
}

void TCustomComPort::Check(int error)
{
    if (error == 0)
        return;
    RaiseError(error, std::strerror(error));
}

// --- open and close ----------------------------------------------------------

void TCustomComPort::Open()
{
    if (Active())
        return;
    if (BeforeOpen)
        BeforeOpen(*this);
    CreateHandle();
    if (Active() && AfterOpen)
        AfterOpen(*this);
}

void TCustomComPort::CreateHandle()
{
    ReleaseHandle();
    try {
        if (priorityClass_ != pcDefault) {
            static constexpr int nice[] = {0, 19, 0, -10, -20};
            errno = 0;
            const int old = getpriority(PRIO_PROCESS, 0);
            if (old == -1 && errno != 0)
                Check(errno);
            if (setpriority(PRIO_PROCESS, 0, nice[priorityClass_]) != 0)
                Check(errno);
            savedNice_ = old;
            prioritySaved_ = true;
        }
        std::unique_ptr<ISerialDevice> dev = factory_();
        Check(dev->Open(deviceName_));
        device_ = std::move(dev);
        readExpected_ = writeExpected_ = 0;
        // Whatever came in while nobody listened is not an answer to us.
        Check(device_->Purge());
        ApplyBufferSizes();
        ApplyLineSettings();
        ApplyTimeouts();
    } catch (...) {
        ReleaseHandle();
        throw;
    }
}

void TCustomComPort::Close()
{
    if (!Active())
        return;
    if (BeforeClose)
        BeforeClose(*this);
    ReleaseHandle();
    if (!Active() && AfterClose)
        AfterClose(*this);
}

void TCustomComPort::ReleaseHandle()
{
    if (device_) {
        // Let the last write go out within its own time-out before the device goes.
        if (device_->IsOpen() && device_->WritePending()) {
            size_t done = 0;
            device_->FinishWrite(done);
        }
        device_->Close();
        device_.reset();
    }
    if (prioritySaved_) {
        setpriority(PRIO_PROCESS, 0, savedNice_);
        prioritySaved_ = false;
    }
}

// --- settings to the device --------------------------------------------------

void TCustomComPort::SettingsToRecord(TDeviceLineSettings& rec) const
{
    if (baudRate_ == brCustom)
        rec.BaudRate = uint32_t(customBaudRate_);
    else if (baudRate_ != brDefault)
        rec.BaudRate = BaudRateValue(baudRate_);
    if (dataBits_ != dbDefault)
        rec.ByteSize = uint8_t(int(dataBits_) + 3);
    if (parity_ != paDefault)
        rec.Parity = uint8_t(int(parity_) - 1);
    if (stopBits_ != sbDefault)
        rec.StopBits = uint8_t(int(stopBits_) - 1);
    rec.XonChar = Characters->xon_;
    rec.XoffChar = Characters->xoff_;
    rec.ErrorChar = Characters->error_;
    rec.EofChar = Characters->eof_;
    rec.EvtChar = Characters->event_;
    if (FlowControl->dtr_ != dcDefault)
        rec.DtrControl = uint8_t(int(FlowControl->dtr_) - 1);
    if (FlowControl->rts_ != rcDefault)
        rec.RtsControl = uint8_t(int(FlowControl->rts_) - 1);
    if (FlowControl->xonxoff_ != xcDefault) {
        const TXOnXOffControl x = FlowControl->xonxoff_;
        rec.OutX = (x == xcOutput || x == xcInputOutput);
        rec.InX = (x == xcInput || x == xcInputOutput);
    }
    rec.XonLim = FlowControl->xonLimit_;
    rec.XoffLim = FlowControl->xoffLimit_;
    rec.fParity = options_.Contains(opCheckParity);
    rec.fOutxCtsFlow = options_.Contains(opOutputCTSFlow);
    rec.fOutxDsrFlow = options_.Contains(opOutputDSRFlow);
    rec.fDsrSensitivity = options_.Contains(opDSRSensitivity);
    rec.fTXContinueOnXoff = options_.Contains(opTXContinueOnXOff);
    rec.fErrorChar = options_.Contains(opUseErrorChar);
    rec.fNull = options_.Contains(opDiscardNullBytes);
    rec.fAbortOnError = options_.Contains(opAbortOnError);
}

void TCustomComPort::RecordToSettings(const TDeviceLineSettings& rec)
{
    // Every setting becomes explicit; the rate always as the custom rate the
    // dialog gave, so that the choice holds whatever the previous custom rate was.
    customBaudRate_ = int32_t(rec.BaudRate);
    baudRate_ = brCustom;
    dataBits_ = TDataBits(std::clamp(int(rec.ByteSize), 4, 8) - 3);
    parity_ = TParity(std::min<int>(rec.Parity, 4) + 1);
    stopBits_ = TStopBits(std::min<int>(rec.StopBits, 2) + 1);
    FlowControl->dtr_ = TDTRControl(std::min<int>(rec.DtrControl, 2) + 1);
    FlowControl->rts_ = TRTSControl(std::min<int>(rec.RtsControl, 3) + 1);
    FlowControl->xonxoff_ = rec.OutX ? (rec.InX ? xcInputOutput : xcOutput) : (rec.InX ? xcInput : xcDisable);
    FlowControl->xonLimit_ = rec.XonLim;
    FlowControl->xoffLimit_ = rec.XoffLim;
    Characters->xon_ = rec.XonChar;
    Characters->xoff_ = rec.XoffChar;
    Characters->error_ = rec.ErrorChar;
    Characters->eof_ = rec.EofChar;
    Characters->event_ = rec.EvtChar;
    TOptions o;
    const std::pair<bool, TOption> flags[] = {
        {rec.fParity, opCheckParity}, {rec.fOutxCtsFlow, opOutputCTSFlow},
        {rec.fOutxDsrFlow, opOutputDSRFlow}, {rec.fDsrSensitivity, opDSRSensitivity},
        {rec.fTXContinueOnXoff, opTXContinueOnXOff}, {rec.fErrorChar, opUseErrorChar},
        {rec.fNull, opDiscardNullBytes}, {rec.fAbortOnError, opAbortOnError}};
    for (const auto& [on, opt] : flags)
        if (on)
            o.Include(opt);
    options_ = o;
}

void TCustomComPort::ApplyLineSettings()
{
    TDeviceLineSettings rec;
    Check(device_->GetLineSettings(rec));
    SettingsToRecord(rec);
    Check(device_->SetLineSettings(rec));
}

void TCustomComPort::ApplyBufferSizes()
{
    Check(device_->SetBufferSizes(BufferSizes->Input(), BufferSizes->Output()));
}

void TCustomComPort::ApplyTimeouts()
{
    TDeviceTimeouts t;
    Check(device_->GetTimeouts(t));
    t = Timeouts->Record();
    Check(device_->SetTimeouts(t));
}

// --- reading -------------------------------------------------------------------

size_t TCustomComPort::InputCount()
{
    if (!Active())
        RaiseClosed();
    size_t n = 0;
    Check(device_->InputCount(n));
    return n;
}

void TCustomComPort::WaitForReadCompletion()
{
    if (!Active() || !device_->ReadPending())
        return;
    size_t done = 0;
    Check(device_->FinishRead(done));
    // Fewer bytes than asked is a time-out, however the read ended.
    if (done < readExpected_)
        RaiseError(0, kMsgTimeout);
}

void TCustomComPort::CheckLineErrors()
{
    if (!Active())
        return;
    TLineErrors errors;
    Check(device_->TakeLineErrors(errors));
    if (!errors.Empty() && OnLineError)
        OnLineError(*this, errors);
}

size_t TCustomComPort::Read(void* buffer, size_t count, bool wait)
{
    if (!Active())
        RaiseClosed();
    if (BeforeRead)
        BeforeRead(*this);
    WaitForReadCompletion();
    readExpected_ = count;
    if (count > 0) {
        Check(device_->StartRead(buffer, count));
        if (wait) {
            WaitForReadCompletion();
            CheckLineErrors();
        }
    }
    if (AfterRead)
        AfterRead(*this);
    return count;
}

uint8_t TCustomComPort::ReadByte()
{
    uint8_t b = 0;
    Read(&b, 1, true);
    return b;
}

char TCustomComPort::ReadChar()
{
    return char(ReadByte());
}

std::string TCustomComPort::ReadString()
{
    if (!Active())
        RaiseClosed();
    WaitForReadCompletion();
    std::string s(InputCount(), '\0');
    if (!s.empty())
        Read(s.data(), s.size(), true);
    return s;
}

std::string TCustomComPort::ReadUntil(uint8_t terminator)
{
    std::string s;
    do {
        // A line that never sends the terminator would otherwise grow the
        // text without end; what was read is dropped with the error.
        if (s.size() >= kMaxReplyLength)
            RaiseError(0, kMsgReplyTooLong);
        s += ReadChar();
    } while (uint8_t(s.back()) != terminator);
    return s;
}

// --- writing -------------------------------------------------------------------

void TCustomComPort::WaitForWriteCompletion()
{
    if (!Active() || !device_->WritePending())
        return;
    size_t done = 0;
    Check(device_->FinishWrite(done));
    if (done < writeExpected_)
        RaiseError(0, kMsgTimeout);
}

size_t TCustomComPort::Write(const void* buffer, size_t count, bool wait)
{
    if (!Active())
        RaiseClosed();
    if (BeforeWrite)
        BeforeWrite(*this);
    WaitForWriteCompletion();
    CheckLineErrors();
    writeExpected_ = count;
    if (count > 0) {
        Check(device_->StartWrite(buffer, count));
        if (wait)
            WaitForWriteCompletion();
    }
    if (AfterWrite)
        AfterWrite(*this);
    return count;
}

void TCustomComPort::WriteString(const std::string& text)
{
    Write(text.data(), text.size(), false);
}

void TCustomComPort::WriteChar(char c)
{
    Write(&c, 1, false);
}

void TCustomComPort::WriteByte(uint8_t b)
{
    Write(&b, 1, false);
}

// --- the line settings dialog --------------------------------------------------

bool TCustomComPort::ConfigDialog()
{
    const std::string name = ShortDeviceName();
    TDeviceLineSettings rec;
    if (Active())
        Check(device_->GetLineSettings(rec));
    else
        Check(ProbeLineSettings(deviceName_, rec));
    SettingsToRecord(rec);
    if (!ConfigDialogHook || !ConfigDialogHook(name, rec))
        return false;
    RecordToSettings(rec);
    if (Active())
        ApplyLineSettings();
    return true;
}

// The decay measurement, the read-out of the files stored in the monitor and
// the two result files: the parts of C_CPM_EF that the decay window drives.
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmFiles.h"

#include "core/MainState.h"
#include "platform/CsvText.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"

#include <QDateTime>
#include <QSaveFile>
#include <cstdio>

namespace {

std::string Mid(const std::string& s, size_t from, size_t count)
{
    if (from < 1 || from > s.size())
        return {};
    return s.substr(from - 1, count);
}

// The text between the first STX and the first ETX of a reply, cut the way
// every reply of the monitor is cut (see SendCommand).
std::string ReplyPayload(const std::string& r)
{
    const size_t stx = r.find(CpmChar::STX);
    const size_t etx = r.find(CpmChar::ETX);
    const long start = (stx == std::string::npos ? 0 : long(stx) + 1) + 1;
    long count = (etx == std::string::npos ? 0 : long(etx) + 1) - 2;
    if (count <= 0)
        count = long(r.size());
    return Mid(r, size_t(start), size_t(count));
}

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

// Colours as the chart draws them.
constexpr TCpmColour MarkColour = TCpmColour::Red;
constexpr TCpmColour ChargeColour = TCpmColour::Red;
constexpr TCpmColour DecayColour = TCpmColour::Blue;

constexpr int32_t MarkVoltage = 1200;

} // namespace

std::string CpmTestDataPath() { return HomeDirectory() + "TestData.TXT"; }

void C_CPM_EF::MeasureDecay(int32_t& start, int32_t& stop, int32_t& offsetTime, double& posDecay, double& negDecay,
                            double& offsetVoltage, bool& aborted)
{
    TestRecording.Clear();
    aborted = false;
    bool done = false;
    int count = 0;           // points of the measured line the reference lines span
    double nextX = 0;        // every point of the measured line takes the next index
    bool posMark = false, negMark = false, timedOnce = false;
    start = stop = offsetTime = 0;
    posDecay = negDecay = offsetVoltage = 0;
    const bool testOutput = MainState && MainState->TestOutput;

    SendCommand("w2"); // the first frame after the command carries nothing of interest
    if (Feeds) {
        Feeds->SetOffsetCaption(QStringLiteral("Plate voltage"));
        Feeds->ClearChart();
    }
    auto addPoint = [&](double v, TCpmColour colour) {
        if (Feeds)
            Feeds->AddPoint(TCpmSeries::Measured, nextX, v, colour);
        nextX += 1;
    };

    while (!done && !aborted) {
        Host().Sleep(1);
        std::string frame = port_.ReadUntil(uint8_t(CpmChar::ETX));
        Host().ProcessMessages(); // "Break" runs here
        if (Feeds && Feeds->Abandoned())
            throw TCpmAbandoned{};

        if (frame.size() >= 2 && frame[1] == CpmChar::DC3)
            aborted = true;
        if (!frame.empty() && frame[0] == CpmChar::DC2) {
            // The result frame: DC2, one more character, the record, ETX.
            frame = frame.size() >= 3 ? frame.substr(2, frame.size() - 3) : std::string();
            done = true;
            start = HexWordToInt16(Mid(frame, 5, 4));
            stop = HexWordToInt16(Mid(frame, 9, 4));
            offsetTime = HexWordToInt16(Mid(frame, 13, 4));
            posDecay = HexWordToInt16(Mid(frame, 17, 4)) * 0.1;
            negDecay = HexWordToInt16(Mid(frame, 21, 4)) * 0.1;
            bool negative = false;
            if (frame.size() >= 27 && frame[26] != '0') {
                negative = true;
                frame[26] = '0';
            }
            const double magnitude = HexWordToInt16(Mid(frame, 25, 4));
            offsetVoltage = negative ? -magnitude : magnitude;
        }

        // Every live frame is a plate voltage, and so is the abort frame
        // (the voltage at the Break). The result frame is not: read as one,
        // its mode would be the status and its start voltage the plate, and
        // the curve would end in a spike back up to +Vstart.
        int32_t v = HexWordToInt16(Mid(frame, 5, 4));
        const std::string s = StatusBits(Mid(frame, 3, 2));
        if (s.size() >= 7 && s[5] == '1') // bit 2: negative plate
            v = -v;
        if (done) {
            if (testOutput) {
                TestRecording.Voltage.push_back(v);
                TestRecording.Bit1.push_back(s.size() >= 7 && s[6] == '1' ? 1 : 0);
                TestRecording.Bit5.push_back(s.size() >= 3 && s[2] == '1' ? 1 : 0);
                TestRecording.Status.push_back(s);
            }
            continue;
        }
        if (Feeds)
            Feeds->SetVoltageText(QString::number(v) + QStringLiteral(" V"));

        // A red mark at the top (bottom) of the chart where charging starts,
        // only before the decay timing ran for the first time.
        if (v >= 100 && v <= MarkVoltage && !posMark && !timedOnce) {
            posMark = true;
            addPoint(MarkVoltage, MarkColour);
        }
        if (v >= -MarkVoltage && v <= -100 && !negMark && !timedOnce) {
            negMark = true;
            addPoint(-MarkVoltage, MarkColour);
        }
        if (v < 90)
            posMark = false;
        if (v > 0)
            negMark = false;
        bool timing = false;
        if (s.size() >= 3 && s[2] == '1') { // bit 5: decay timing runs
            timing = true;
            posMark = negMark = false;
            timedOnce = true;
        }
        if (timing) {
            addPoint(v, DecayColour);
            ++count;
        }
        if (posMark) {
            addPoint(v, ChargeColour);
            ++count;
        }
        if (negMark) {
            addPoint(v, ChargeColour);
            ++count;
        }
        if (testOutput) {
            TestRecording.Voltage.push_back(v);
            TestRecording.Bit1.push_back(s.size() >= 7 && s[6] == '1' ? 1 : 0);
            TestRecording.Bit5.push_back(s.size() >= 3 && s[2] == '1' ? 1 : 0);
            TestRecording.Status.push_back(s);
        }
    }

    if (aborted) {
        start = stop = offsetTime = 0;
        posDecay = negDecay = offsetVoltage = 0;
    }
    if (Feeds)
        Feeds->SetOffsetCaption(QStringLiteral("Offset"));
    StartVoltage = start;
    StopVoltage = stop;
    OffsetTime = offsetTime;
    PosDecayTime = posDecay;
    NegDecayTime = negDecay;
    OffsetVoltage = offsetVoltage;

    if (Feeds) {
        for (int i = 0; i <= count + 1; ++i) {
            Feeds->AddPoint(TCpmSeries::VstartPos, i, start, TCpmColour::Black);
            Feeds->AddPoint(TCpmSeries::VstopPos, i, stop, TCpmColour::Black);
            Feeds->AddPoint(TCpmSeries::VstartNeg, i, -start, TCpmColour::Yellow);
            Feeds->AddPoint(TCpmSeries::VstopNeg, i, -stop, TCpmColour::Yellow);
            Feeds->AddPoint(TCpmSeries::ZeroLine, i, 0, TCpmColour::Green);
        }
    }

    if (testOutput) {
        const QDateTime now = QDateTime::currentDateTime();
        std::string text = ToWindows1252(CpmDateText(now.date()) + QLatin1Char(' ') + CpmTimeText(now.time())) + "\r\n";
        for (size_t i = 0; i < TestRecording.Voltage.size(); ++i)
            text += std::to_string(TestRecording.Voltage[i]) + ";" + std::to_string(TestRecording.Bit1[i]) + ";" +
                    std::to_string(TestRecording.Bit5[i]) + ";" + TestRecording.Status[i] + "\r\n";
        QSaveFile f(QString::fromStdString(CpmTestDataPath()));
        const bool ok = f.open(QIODevice::WriteOnly) && f.write(text.data(), qint64(text.size())) == qint64(text.size()) &&
                        f.commit();
        if (!ok)
            Prompt().Message("Can't create file : " + QString::fromStdString(CpmTestDataPath()), "Error");
    }
}

int C_CPM_EF::ReadStoredFiles(int first, int last, std::array<std::string, 100>& records, int& count)
{
    if (Feeds) {
        Feeds->ClearMemo();
        Feeds->SetMemoFontSize(12);
    }
    Host().ProcessMessages();
    if (Feeds && Feeds->Abandoned())
        throw TCpmAbandoned{};
    int status = 0;
    count = first - 1;
    try {
        const int values[9] = {1, 0, 0, 0, 50, 9, 1, 1, 1};
        for (size_t i = 0; i < 9; ++i)
            SetupValues[i] = std::to_string(values[i]);
        WriteSetup();
        Host().Sleep(1000);

        for (int n = first; n <= last; ++n) {
            Host().Sleep(100);
            if (!Handshake()) {
                // Nothing after a file the monitor no longer answers for is
                // true: the read-out ends with the files read so far.
                status = -1;
                count = n - 1;
                break;
            }
            char number[8];
            std::snprintf(number, sizeof number, "%02d", n < 0 ? 0 : n % 100);
            Host().Sleep(20);
            port_.WriteString(std::string(1, CpmChar::STX) + "r3" + CpmChar::ETX);
            Host().Sleep(20);
            port_.WriteString(std::string(1, CpmChar::STX) + number + CpmChar::ETX);
            Host().Sleep(10);
            const std::string payload = ReplyPayload(port_.ReadUntil(uint8_t(CpmChar::ETX)));

            if (n >= 0 && n < int(records.size()))
                records[size_t(n)] = payload;
            if (payload.empty())
                status = -2;
            if (Mid(payload, 3, 2) == "FF") { // an empty slot ends the stored files
                status = n == first ? -2 : -10;
                count = n - 1;
                break;
            }
            if (Feeds)
                Feeds->AddMemoLine("Reading file no. : " + QLatin1String(number) + "  value : " + Latin1(payload));
            Host().ProcessMessages();
            if (Feeds && Feeds->Abandoned())
                throw TCpmAbandoned{};
            count = n;
        }
    } catch (const std::exception&) {
        status = -3;
    }
    return status;
}

// The headers carry the identification the decay instance holds.
static TCpmIdentification DecayIdentification(const C_CPM_EF* self)
{
    const C_CPM_EF& cpm = CpmDecay ? *CpmDecay : *self;
    return {cpm.SwVersion, cpm.SerialNumber, cpm.ProductionDate};
}

int C_CPM_EF::SaveResult(int32_t start, int32_t stop, int32_t offsetTime, double posDecay, double negDecay,
                         double offsetVoltage, const QString& comment)
{
    QString fileName;
    const QString dir = MainState ? MainState->CpmDataDirectory : QString();
    if (!Feeds || !Feeds->AskSaveFileName(dir, fileName))
        return -1;
    Feeds->DataDirectoryUpdate(fileName);
    const QTime t = QTime::currentTime();
    TCpmResult r;
    r.StartVoltage = start;
    r.StopVoltage = stop;
    r.OffsetTime = offsetTime;
    r.PosDecayTime = posDecay;
    r.NegDecayTime = negDecay;
    r.OffsetVoltage = offsetVoltage;
    return SaveCpmResult(fileName, DecayIdentification(this), t, Latin1(SetupValues[4]), r, comment);
}

int C_CPM_EF::CreateDataFile(QString& fileName)
{
    const QString dir = MainState ? MainState->CpmDataDirectory : QString();
    if (!Feeds || !Feeds->AskSaveFileName(dir, fileName))
        return 2;
    Feeds->DataDirectoryUpdate(fileName);
    if (!CpmFileIsNew(fileName))
        return 0; // lines go below the old ones, no second header
    UpdateIdentification(); // the header names the monitor connected now
    const int written = WriteCpmHeader(fileName, DecayIdentification(this), CpmReadOutColumns);
    if (written > 0)
        return 2; // given up: no lines into a file without its header
    return 1;     // written, or not to be created: then the appends report why
}

int C_CPM_EF::AppendRecord(const QString& fileName)
{
    TCpmResult r;
    r.FileNumber = FileNumber;
    r.DecayMode = DecayMode;
    r.StartVoltage = StartVoltage;
    r.StopVoltage = StopVoltage;
    r.OffsetTime = OffsetTime;
    r.PosDecayTime = PosDecayTime;
    r.NegDecayTime = NegDecayTime;
    r.OffsetVoltage = OffsetVoltage;
    const int result = AppendCpmRecord(fileName, DecayIdentification(this), r, Comment);
    PosDecayTime = r.PosDecayTime;
    NegDecayTime = r.NegDecayTime;
    return result;
}

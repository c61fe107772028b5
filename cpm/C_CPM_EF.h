#pragma once
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TCustomComPort;

// Control characters of the charge plate monitor's link.
namespace CpmChar {
constexpr char ENQ = 0x05; // before each command; also what the setup write waits for
constexpr char ACK = 0x06; // the monitor's answer to ENQ
constexpr char STX = 0x02; // starts a frame
constexpr char ETX = 0x03; // ends a frame
constexpr char DC2 = 0x12; // first character of the decay result frame
constexpr char DC3 = 0x13; // second character of an abort frame
constexpr char BEL = 0x07; // alone: abort the running decay measurement
} // namespace CpmChar

// Colours of the decay chart's points.
enum class TCpmColour { Black, Red, Blue, Yellow, Green };

// The six series of the decay chart window.
enum class TCpmSeries { Measured, VstartPos, VstopPos, VstartNeg, VstopNeg, ZeroLine };

// What the decay measurement and the stored-file read-out put on the screen
// or ask of it. The decay window implements it; every feed does nothing
// until overridden, so a test implements only what it looks at.
class ICpmFeeds {
public:
    virtual ~ICpmFeeds() = default;
    // The caption of the group box around the live voltage ("Plate voltage", "Offset").
    virtual void SetOffsetCaption(const QString& text) { (void)text; }
    // The live plate voltage label ("-123 V").
    virtual void SetVoltageText(const QString& text) { (void)text; }
    // Empties the six series of the decay chart and closes its window.
    virtual void ClearChart() {}
    virtual void AddPoint(TCpmSeries series, double x, double y, TCpmColour colour)
    {
        (void)series, (void)x, (void)y, (void)colour;
    }
    // The progress memo of the decay window.
    virtual void ClearMemo() {}
    virtual void SetMemoFontSize(int points) { (void)points; }
    virtual void AddMemoLine(const QString& line) { (void)line; }
    // The save dialog of the result and read-out files: true with the chosen
    // name in `fileName`, false when cancelled.
    virtual bool AskSaveFileName(const QString& initialDir, QString& fileName)
    {
        (void)initialDir, (void)fileName;
        return false;
    }
    // A file was saved as `fileName`: remember its folder as the data folder.
    virtual void DataDirectoryUpdate(const QString& fileName) { (void)fileName; }
    // True once the user has left the window whose run or read-out this is
    // (Exit while it waited): the exchange ends at once, without another
    // byte on the line and without a word on the screen.
    virtual bool Abandoned() const { return false; }
};

// Thrown out of a decay run or a read-out whose window was left meanwhile
// (ICpmFeeds::Abandoned). Not a std::exception, so that no error handling
// on the way takes it for a line fault; the window that started the
// exchange catches it.
struct TCpmAbandoned {};

// The charge plate monitor Karvo's command protocol: the ENQ/ACK handshake,
// STX/ETX framed commands and replies, the setup block, the result record
// and the display read. Talks through the port it is given; pauses and
// message processing go through Host(), questions to the user through
// Prompt(). Reads DeviceCode and writes ManualEFieldFirmware of the main
// state (MainState) when there is one.
class C_CPM_EF {
public:
    explicit C_CPM_EF(TCustomComPort& port) : port_(port) {}
    C_CPM_EF(const C_CPM_EF&) = delete;
    C_CPM_EF& operator=(const C_CPM_EF&) = delete;

    // --- fields ------------------------------------------------------------------
    QString SwVersion;      // 15 characters as received
    QString SerialNumber;   // 8 characters as received
    QString ProductionDate; // "15-03-2007"
    // The nine setup bytes. The program stores decimal number texts ("50");
    // ReadSetup stores the two hex characters as received ("32").
    std::array<std::string, 9> SetupValues;
    int32_t FileNumber = 0;
    int32_t DecayMode = 0;     // 0x10 automatic, 0x21 positive, 0x32 negative
    int32_t StartVoltage = 0;  // V
    int32_t StopVoltage = 0;   // V
    int32_t OffsetTime = 0;    // s
    double PosDecayTime = 0;   // s
    double NegDecayTime = 0;   // s
    double OffsetVoltage = 0;  // V, signed
    QString Comment;           // written with the next stored record
    // One entry per frame of a decay run while TestOutput is on.
    struct TTestRecording {
        std::vector<int32_t> Voltage;
        std::vector<int> Bit1;
        std::vector<int> Bit5;
        std::vector<std::string> Status;
        void Clear()
        {
            Voltage.clear();
            Bit1.clear();
            Bit5.clear();
            Status.clear();
        }
    } TestRecording;

    // Where the decay measurement and the read-out show their progress (the
    // decay window sets it; may stay null).
    ICpmFeeds* Feeds = nullptr;

    TCustomComPort& Port() { return port_; }

    // --- protocol ------------------------------------------------------------------
    // ENQ, up to ten polls 50 ms apart for ACK (the command goes out without
    // one too), STX command ETX, the reply up to ETX; returns the text between
    // STX and ETX. A reply that does not come raises the port's "Timeout".
    std::string SendCommand(const std::string& command);
    // "r0": version (characters 1-15), serial number (17-24), raw date (25-30).
    void ReadIdentification(std::string& version, std::string& serial, std::string& rawDate);
    // Reads the identification into the decay instance (whichever instance
    // calls) and sets ManualEFieldFirmware when the version contains "6.10".
    void UpdateIdentification();
    // "r1": the nine setup bytes as their received hex character pairs.
    void ReadSetup();
    // "w1": identification, then waits for the monitor's 0x05 and sends the
    // nine SetupValues (decimal texts) as 18 hex digits. On the E-field code
    // with "6.10" firmware it asks the user to set mode and range instead.
    // A monitor that keeps sending other bytes (decay frames still under
    // way) instead of the 0x05 ends the wait in "Timeout" after the port's
    // read time-out (at least SetupEnqWaitMs) or SetupEnqMaxBytes bytes.
    void WriteSetup();
    // Decodes a 28-character result record into FileNumber ... OffsetVoltage.
    // Missing characters count as absent digits. Always returns 0.
    int ParseRecord(const std::string& record);
    // BEL, then 500 ms.
    void SendBreak();
    static constexpr unsigned SetupEnqWaitMs = 1000;
    static constexpr size_t SetupEnqMaxBytes = 4096;
    // Two hex digits as eight binary digits, most significant bit first.
    static std::string StatusBits(const std::string& pair);

    // --- readings (voltmeter and E-field) ------------------------------------------
    // Fills SetupValues for device code 101, 102 or 103 and range code
    // (range index = code - 60/50/40).
    void FillReadingSetup(int deviceCode, int rangeCode);
    // "r2": the 32 display characters (a zero byte read as 0xB1). `value` is
    // the number on line 2 (comma as decimal separator), 9999 for OVERFLOW or
    // no number; `unit` the unit shown after it ("kV" on the plate's 1 kV
    // range), left alone on OVERFLOW. Leaves ReadMultiplier 100 on the port.
    std::string ReadDisplay(double& value, QString& unit);
    // The evaluation of a display text (as ReadDisplay returns it).
    static std::string EvaluateDisplay(const std::string& display, double& value, QString& unit);

    // --- decay measurement and files ----------------------------------------------
    // Defined beside the decay window's logic, not in C_CPM_EF.cpp.
    // "w2" and the frames up to the result or abort frame; results also stored
    // in the fields above.
    void MeasureDecay(int32_t& start, int32_t& stop, int32_t& offsetTime, double& posDecay,
                      double& negDecay, double& offsetVoltage, bool& aborted);
    // "r3" for file numbers first..last into records[n]; status 0, -1, -2, -3, -10.
    // A file number the monitor no longer acknowledges (-1) ends the
    // read-out there: count is the last file number read in full.
    int ReadStoredFiles(int first, int last, std::array<std::string, 100>& records, int& count);
    // Result file: -1 cancelled, 0 written, 1 failed.
    int SaveResult(int32_t start, int32_t stop, int32_t offsetTime, double posDecay, double negDecay,
                   double offsetVoltage, const QString& comment);
    // Read-out file: 2 cancelled, 1 new, 0 existing; the chosen name in fileName.
    int CreateDataFile(QString& fileName);
    // One read-out line of the last parsed record: 0 written, 1 given up.
    int AppendRecord(const QString& fileName);

private:
    // ENQ and the polls for ACK; true when an ACK came.
    bool Handshake();
    TCustomComPort& port_;
};

// The three instances of the run (chart, display window, decay window), all
// on the program's one serial port; null until created. Creating them also
// hands the chart and the display window their monitor sources
// (SerialSources()).
extern C_CPM_EF* CpmChart;
extern C_CPM_EF* CpmDisplay;
extern C_CPM_EF* CpmDecay;
void CreateCpmInstances(TCustomComPort& port);
void DestroyCpmInstances();

// Every CSV writer of the program on a disk that fills up in the middle of
// a new file's header, then again with room; and every writer with a
// comment that holds characters beyond ASCII and a semicolon. One table,
// one row per writer: a failed save leaves no file behind (else the next
// save would append its line under no header), the next one writes header
// and line, and the bytes are Windows-1252 with CR LF line ends.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/CpmFiles.h"
#include "gripo/C_Gripo.h"
#include "gripo/TFormGripo.h"
#include "ohmra/OhmraFiles.h"
#include "ohmra/TFormOhmraCali.h"
#include "platform/CsvText.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "serial/TFoCom.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

// One writer: saves `comment` into a file (0 when written) and names the
// first bytes its header starts with and how many header lines it has.
struct Writer {
    const char* name;
    std::function<int(const QString& file, const QString& comment)> save;
    std::string headerStart;
    int headerLines; // the last of them names the columns
    bool asksRetry = false;
};

class CsvWriters : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [] {};
        MainLink().CloseDisplay = [] {};
        FoCom = new TFoCom();
        gripo = new TFormGripo();
        FormGripo = gripo;
        cali = new TFormOhmraCali(&port);
        store.InfoSerial = "00051109";
        store.InfoSwVersion = "V1.2";
        store.InfoDate = "01.02.2009";
        store.FirstIndex = store.LastIndex = 0;
        store.OhmraFiles[0].ExpoText = "1.2e8";
        store.OhmraFiles[0].Unit = "Ohm";
    }
    void TearDown() override
    {
        delete cali;
        delete gripo;
        delete FoCom;
        FoCom = nullptr;
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
    }

    std::vector<Writer> Writers()
    {
        const TCpmIdentification id{"KARVO V6.11 SIM", "00004711", "15-03-2007"};
        TCpmResult r;
        r.FileNumber = 3;
        r.DecayMode = 0x10;
        r.PosDecayTime = 2.3;
        return {
            {"decay result",
             [=](const QString& f, const QString& c) { return SaveCpmResult(f, id, QTime(9, 30), "16", r, c); },
             "Device: KARVO", 2, true},
            {"read-out",
             [=](const QString& f, const QString& c) {
                 TCpmResult copy = r;
                 return AppendCpmRecord(f, id, copy, c);
             },
             "Device: KARVO", 2, true},
            {"ohmra single",
             [this](const QString& f, const QString& c) {
                 store.OhmraFiles[0].Comment = c;
                 return int(store.WriteCsv(f, true, 0, QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9))));
             },
             "Time;Date;Serial", 1},
            {"ohmra stored files",
             [this](const QString& f, const QString& c) {
                 store.OhmraFiles[0].Comment = c;
                 return int(store.WriteCsv(f, false, 0, QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9))));
             },
             "Time;Date;Serial", 3},
            {"tester",
             [this](const QString& f, const QString& c) {
                 gripo->EditComment->setText(c);
                 return gripo->SaveStatistics(f);
             },
             "Date;Time;No. of meas.", 1},
            {"calibration", [this](const QString& f, const QString&) { return int(cali->WriteCalibrationFile(f)); },
             ToWindows1252(TFormOhmraCali::CalibrationCsvHeader().left(10)), 1},
        };
    }

    TempDir dir;
    TMainState state;
    ScriptedPrompt prompt;
    TComPort port; // the calibration window wants one; it stays closed
    TOhmraFileStore store;
    TFormGripo* gripo = nullptr;
    TFormOhmraCali* cali = nullptr;
};

TEST_F(CsvWriters, ADiskFullInTheHeaderLeavesNoFileAndTheNextSaveWritesHeaderAndLine)
{
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        const std::string path = dir.file(std::string(w.name) + ".csv");
        const QString file = QString::fromStdString(path);
        const size_t shown0 = prompt.shown().size();
        if (w.asksRetry)
            prompt.Press(TPromptResult::Cancel);
        {
            DiskFullAfter disk(12); // less than any header
            EXPECT_NE(w.save(file, "first"), 0);
        }
        EXPECT_FALSE(QFileInfo::exists(file)) << "a new file without its header stayed";
        // The user was told what happened, not asked about another program.
        ASSERT_GT(prompt.shown().size(), shown0);
        const QString told = prompt.shown().back().text;
        EXPECT_TRUE(told.contains("largest size")) << told.toStdString();

        ASSERT_EQ(w.save(file, "second"), 0);
        const QStringList lines = CompleteLines(path);
        ASSERT_EQ(lines.size(), w.headerLines + 1);
        EXPECT_EQ(ReadWholeFile(path).compare(0, w.headerStart.size(), w.headerStart), 0);
        EXPECT_FALSE(lines.join("").contains("first"));
    }
}

TEST_F(CsvWriters, ACommentComesOutInWindows1252WithItsSemicolonAsAComma)
{
    const QString comment = QString::fromUtf8("Prüfung 5 µC; Los 7");
    const std::string expected = "Pr\xFC" "fung 5 \xB5" "C, Los 7";
    for (const Writer& w : Writers()) {
        if (std::string(w.name) == "calibration")
            continue; // carries no comment
        SCOPED_TRACE(w.name);
        const std::string path = dir.file(std::string(w.name) + "_comment.csv");
        ASSERT_EQ(w.save(QString::fromStdString(path), comment), 0);
        const std::string bytes = ReadWholeFile(path);
        EXPECT_NE(bytes.find(expected + "\r\n"), std::string::npos) << bytes;
        EXPECT_EQ(bytes.find("\xC3"), std::string::npos) << "UTF-8 bytes in the file";
        // Every line end CR LF, no bare LF.
        for (size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
            EXPECT_EQ(bytes[i - 1], '\r');
        const QStringList lines = CompleteLines(path);
        ASSERT_EQ(lines.size(), w.headerLines + 1);
        EXPECT_EQ(lines.back().count(';'), lines[w.headerLines - 1].count(';')) << "the comment opened a column";
    }
}

} // namespace

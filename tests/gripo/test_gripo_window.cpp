// The tester's statistics window against the simulated tester on a
// pseudo-terminal: transfer, the states of its controls, the statistics
// file, closing, and the print-out through a PDF printer.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "core/TimeText.h"
#include "gripo/C_Gripo.h"
#include "gripo/TFormGripo.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimGripo.h"
#include "tests/support/ModalDialogs.h"
#include "tests/support/PdfWords.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Chooses `file` the way a user does: its folder, then its name typed into
// the name field (selectFile would leave the offered name standing once the
// field has the focus).
void ChooseIn(QFileDialog* d, const QString& file)
{
    d->setDirectory(QFileInfo(file).absolutePath());
    if (auto* edit = d->findChild<QLineEdit*>("fileNameEdit"))
        edit->setText(QFileInfo(file).fileName());
    else
        d->selectFile(file);
    QMetaObject::invokeMethod(d, "accept");
}

void SaveAs(const QString& file)
{
    WhenModal<QFileDialog>([file](QFileDialog* d) { ChooseIn(d, file); });
}

class GripoWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        state.StopFlag = false;
        MainState = &state;
        MainLink().ReturnToMain = [this] { ++returned; };
        MainLink().CloseDisplay = [this] { ++displayClosed; };
        FoCom = new TFoCom();
        FoCom->ComPort1->DeviceName(peer.SlavePath());
        FormGripo = new TFormGripo();
        peer.Host(sim);
        peer.Start();
        // As the main window's Gripo entry leaves it.
        FoCom->ComPort1->Open();
        FoCom->ComPort1->Timeouts->ReadConstant(3000);
    }
    void TearDown() override
    {
        peer.Stop();
        delete FormGripo;
        delete FoCom;
        FoCom = nullptr;
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
    }
    void Tester(uint16_t total, uint16_t hl, uint16_t hh, uint16_t sl, uint16_t sh)
    {
        peer.WithInstrument([&] {
            sim.Total = total;
            sim.WristLow = hl;
            sim.WristHigh = hh;
            sim.ShoeLow = sl;
            sim.ShoeHigh = sh;
        });
    }
    QStringList Results() const
    {
        TFormGripo* f = FormGripo;
        return {f->Counter_all->text(),     f->Counter_HGB_L->text(),   f->Counter_HGB_L_P->text(),
                f->Counter_HGB_H->text(),   f->Counter_HGB_H_P->text(), f->Counter_Shoe_L->text(),
                f->Counter_Shoe_L_P->text(), f->Counter_Shoe_H->text(), f->Counter_Shoe_H_P->text()};
    }
    // Start with the instruction box confirmed.
    void Transfer()
    {
        prompt.Press(TPromptResult::Ok);
        FormGripo->BitBtn_StartClick();
    }

    TempDir dir;
    TMainState state;
    PtyPeer peer;
    SimGripo sim;
    ScriptedPrompt prompt;
    int returned = 0, displayClosed = 0;
};

} // namespace

TEST_F(GripoWindow, OpensWithOnlyStartAndExitUsable)
{
    TFormGripo* f = FormGripo;
    EXPECT_EQ(f->size(), QSize(392, 495));
    EXPECT_EQ(f->windowTitle(), "Gripo");
    EXPECT_FALSE(f->BitBtnSaveData->isEnabled());
    EXPECT_FALSE(f->BitBtnPrintData->isEnabled());
    EXPECT_FALSE(f->LabelComment->isEnabled());
    EXPECT_TRUE(f->EditComment->isHidden());
    EXPECT_TRUE(f->BitBtn_Start->isEnabled());
    EXPECT_EQ(f->BitBtn_Start->text(), "Start data Transfer");
    EXPECT_EQ(f->BitBtn_Start->toolTip(), "Start data transfer from Gripo to PC");
    EXPECT_EQ(f->BitBtn_Cancel->text(), "E&xit");
    EXPECT_EQ(f->BitBtnSaveData->text(), "Save data");
    EXPECT_EQ(f->BitBtnPrintData->text(), "Print data");
    EXPECT_EQ(f->CheckBoxDeleteStatisticData->text(), "Delete statistic all data after transfer? ");
    EXPECT_EQ(f->GroupBoxStatistic->title(), "Statistical analysis");
    EXPECT_EQ(f->GroupBoxResults->title(), "Results");
    EXPECT_EQ(f->LabelCounter_all->text(), "Numbers of measurments");
}

TEST_F(GripoWindow, ATransferShowsTheTotalLessOneAndSharesOfTheReceivedTotal)
{
    Tester(121, 3, 0, 2, 1);
    Transfer();
    EXPECT_EQ(Results(), (QStringList{"120", "3", "2.5%", "0", "0.0%", "2", "1.7%", "1", "0.8%"}));
    EXPECT_EQ(Gripo->Count_all, 120u);  // the record keeps the lowered total
    TFormGripo* f = FormGripo;
    EXPECT_TRUE(f->BitBtnSaveData->isEnabled());
    EXPECT_TRUE(f->BitBtnPrintData->isEnabled());
    EXPECT_TRUE(f->LabelComment->isEnabled());
    EXPECT_FALSE(f->EditComment->isHidden());
    EXPECT_EQ(peer.Received().substr(0, 1), "\x7A");
    // ULMARO_SHOT_DIR keeps a picture of the window for a look.
    if (qEnvironmentVariableIsSet("ULMARO_SHOT_DIR"))
        f->grab().save(qEnvironmentVariable("ULMARO_SHOT_DIR") + "/gripo.png");

    // 0x2C 0x01 received: 299 shown.
    Tester(300, 0, 0, 0, 0);
    Transfer();
    EXPECT_EQ(f->Counter_all->text(), "299");
    // All zero: the total is not lowered below 0.
    Tester(0, 0, 0, 0, 0);
    Transfer();
    EXPECT_EQ(Results(), (QStringList{"0", "0", "0.0%", "0", "0.0%", "0", "0.0%", "0", "0.0%"}));
    // A counter above the total.
    Tester(2, 3, 0, 0, 0);
    Transfer();
    EXPECT_EQ(f->Counter_HGB_L_P->text(), "150.0%");
}

TEST_F(GripoWindow, CancelInTheDeleteQuestionUnticksAndReadsWithoutClearing)
{
    Tester(10, 1, 0, 0, 0);
    FormGripo->CheckBoxDeleteStatisticData->setChecked(true);
    prompt.Press(TPromptResult::Cancel).Press(TPromptResult::Ok);
    FormGripo->BitBtn_StartClick();
    ASSERT_GE(prompt.shown().size(), 2u);
    EXPECT_EQ(prompt.shown()[0].text, "Are you sure !");
    EXPECT_EQ(prompt.shown()[0].caption, "Delete statistic data memory !");
    EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::OkCancel);
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Exclamation);
    EXPECT_FALSE(FormGripo->CheckBoxDeleteStatisticData->isChecked());
    EXPECT_EQ(peer.Received().substr(0, 1), "\x7A");
    EXPECT_EQ(FormGripo->Counter_all->text(), "9");
    int clears = -1;
    peer.WithInstrument([&] { clears = sim.Clears; });
    EXPECT_EQ(clears, 0);
}

TEST_F(GripoWindow, ConfirmedDeleteClearsTheTestersMemory)
{
    Tester(10, 1, 0, 0, 0);
    FormGripo->CheckBoxDeleteStatisticData->setChecked(true);
    prompt.Press(TPromptResult::Ok).Press(TPromptResult::Ok);
    FormGripo->BitBtn_StartClick();
    EXPECT_EQ(peer.Received().substr(0, 1), "\x7B");
    EXPECT_EQ(FormGripo->Counter_all->text(), "9");
    int clears = -1, total = -1;
    peer.WithInstrument([&] {
        clears = sim.Clears;
        total = sim.Total;
    });
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(total, 0);
    EXPECT_TRUE(FormGripo->CheckBoxDeleteStatisticData->isChecked());
}

TEST_F(GripoWindow, AFailedTransferShowsNoOldCountsSaysWhyAndLocksSaveAndPrint)
{
    Tester(121, 3, 0, 2, 1);
    Transfer();
    const QStringList before = Results();
    struct Case {
        const char* name;
        bool badChecksum, badEcho, cancel;
        QString says;   // the window's own line; empty when nothing failed
    };
    const Case cases[] = {
        {"bad checksum", true, false, false, "Transfer failed: the checksum of the reply is wrong"},
        {"bad echo", false, true, false, "Transfer failed: the tester did not confirm the reply"},
        // Nothing was read: the last counts stay, greyed, and cannot be saved.
        {"instruction cancelled", false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer();  // a good one in between unlocks everything again
        ASSERT_EQ(FormGripo->State(), TGripoState::Shown);
        peer.WithInstrument([&] {
            sim.BadChecksum = c.badChecksum;
            sim.BadEcho = c.badEcho;
        });
        const size_t boxes = prompt.shown().size();
        prompt.Press(c.cancel ? TPromptResult::Cancel : TPromptResult::Ok);
        FormGripo->BitBtn_StartClick();
        // Only the instruction box: the failure is told in the window itself.
        EXPECT_EQ(prompt.shown().size(), boxes + 1);
        EXPECT_EQ(Results(), c.cancel ? before : QStringList(9, QString()));
        EXPECT_EQ(FormGripo->LabelTransfer->text(), c.says);
        EXPECT_FALSE(FormGripo->Counter_all->isEnabled());
        EXPECT_FALSE(FormGripo->Counter_HGB_L_P->isEnabled());
        EXPECT_FALSE(FormGripo->BitBtnSaveData->isEnabled());
        EXPECT_FALSE(FormGripo->BitBtnPrintData->isEnabled());
        EXPECT_FALSE(FormGripo->LabelComment->isEnabled());
        EXPECT_TRUE(FormGripo->EditComment->isHidden());
        EXPECT_TRUE(FormGripo->BitBtn_Start->isEnabled());
        EXPECT_TRUE(FormGripo->BitBtn_Cancel->isEnabled());
        peer.WithInstrument([&] { sim.BadChecksum = sim.BadEcho = false; });
    }
    // The next good transfer takes the failure's line away again.
    Transfer();
    EXPECT_EQ(FormGripo->LabelTransfer->text(), "");
    EXPECT_TRUE(FormGripo->Counter_all->isEnabled());
    EXPECT_EQ(Results(), before);
}

TEST_F(GripoWindow, ASilentTesterEndsTheClickWithTimeoutAndLeavesNothingToPrint)
{
    Tester(5, 0, 0, 0, 0);
    Transfer();
    peer.WithInstrument([&] { sim.Silent = true; });
    FoCom->ComPort1->Timeouts->ReadConstant(300);
    prompt.Press(TPromptResult::Ok);
    EXPECT_THROW(FormGripo->BitBtn_StartClick(), EComError);
    // No new data came: nothing to print or save, and the window says why.
    EXPECT_FALSE(FormGripo->BitBtnPrintData->isEnabled());
    EXPECT_FALSE(FormGripo->BitBtnSaveData->isEnabled());
    EXPECT_TRUE(FormGripo->EditComment->isHidden());
    EXPECT_EQ(Results(), QStringList(9, QString()));
    EXPECT_EQ(FormGripo->LabelTransfer->text(), "Transfer failed: Timeout");
    EXPECT_EQ(FormGripo->State(), TGripoState::Failed);
    if (qEnvironmentVariableIsSet("ULMARO_SHOT_DIR"))
        FormGripo->grab().save(qEnvironmentVariable("ULMARO_SHOT_DIR") + "/gripo_failed.png");
    // The tester is back: Start reads it again.
    peer.WithInstrument([&] { sim.Silent = false; });
    Transfer();
    EXPECT_EQ(FormGripo->Counter_all->text(), "4");
    EXPECT_TRUE(FormGripo->BitBtnPrintData->isEnabled());
}

TEST_F(GripoWindow, SavingIntoANewFileWritesTheHeaderOnceAndALinePerSave)
{
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    Tester(121, 3, 0, 2, 1);
    Transfer();
    FormGripo->EditComment->setText(QString::fromUtf8("Größe; Tisch 2"));
    const std::string file = dir.file("stats.CSV");
    SaveAs(QString::fromStdString(file));
    FormGripo->BitBtnSaveDataClick();
    SaveAs(QString::fromStdString(file));
    FormGripo->BitBtnSaveDataClick();

    const std::string text = ReadFile(file);
    const std::string header =
        "Date;Time;No. of meas.;HGB <;HGB < %;HGB >;HGB > %;Shoe <;Shoe < %;Shoe >;Shoe > %;Comment\r\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    const std::string body = text.substr(header.size());
    const std::string tail = ";120;3;2,5%;0;0,0%;2;1,7%;1;0,8%;Gr\xF6\xDF" "e, Tisch 2\r\n";
    size_t lines = 0, pos = 0;
    while ((pos = body.find(tail, pos)) != std::string::npos) {
        ++lines;
        pos += tail.size();
    }
    EXPECT_EQ(lines, 2u) << body;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(body.substr(0, body.find(';')), FileDateText(QDate::currentDate()).toStdString());
    EXPECT_EQ(Gripo->Comment, QString::fromUtf8("Größe; Tisch 2"));
    // The folder was new: it is kept for the next save.
    EXPECT_EQ(TIniFile(SetupIniPath()).ReadString("Gripo", "DataDirectory", "?"), dir.path() + "/");
}

TEST_F(GripoWindow, TheDayIsOfferedInTheStoredFolderAndOnlyANewFolderIsWritten)
{
    Tester(3, 0, 0, 0, 0);
    Transfer();
    TIniFile(SetupIniPath()).WriteString("Gripo", "DataDirectory", dir.path() + "/");
    const auto before = ReadFile(SetupIniPath());
    const QString today = "Gripo_" + QDate::currentDate().toString("yyyy-MM-dd") + ".csv";
    QString offered, offeredName;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        offered = d->directory().absolutePath();
        offeredName = QFileInfo(d->selectedFiles().value(0)).fileName();
        EXPECT_EQ(FormGripo->State(), TGripoState::Saving);
        EXPECT_FALSE(FormGripo->BitBtn_Start->isEnabled());
        EXPECT_EQ(d->defaultSuffix(), "CSV");
        EXPECT_EQ(d->nameFilters().value(0), "Comma-Separated Values (*.CSV)");
        ChooseIn(d, QString::fromStdString(dir.file("a.csv")));
    });
    FormGripo->BitBtnSaveDataClick();
    EXPECT_EQ(offered, QString::fromStdString(dir.path()));
    EXPECT_EQ(offeredName, today);
    EXPECT_EQ(ReadFile(SetupIniPath()), before);
    EXPECT_EQ(FormGripo->State(), TGripoState::Shown);

    // A cancelled dialog writes nothing.
    WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    FormGripo->BitBtnSaveDataClick();
    const std::string a = ReadFile(dir.file("a.csv"));
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 2);

    // The stored folder is gone: the day's name in the home folder.
    TIniFile(SetupIniPath()).WriteString("Gripo", "DataDirectory", dir.path() + "/gone/");
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        offered = d->directory().absolutePath() + "/";
        offeredName = QFileInfo(d->selectedFiles().value(0)).fileName();
        d->reject();
    });
    FormGripo->BitBtnSaveDataClick();
    EXPECT_EQ(offered, QString::fromStdString(HomeDirectory()));
    EXPECT_EQ(offeredName, today);
}

TEST_F(GripoWindow, AFileThatCannotBeWrittenIsReported)
{
    Tester(3, 0, 0, 0, 0);
    Transfer();
    // Not creatable: a folder that does not exist.
    const QString missing = QString::fromStdString(dir.file("no such folder/x.csv"));
    EXPECT_EQ(FormGripo->SaveStatistics(missing), -1);
    ASSERT_FALSE(prompt.shown().empty());
    EXPECT_EQ(prompt.shown().back().text, "Can't create file : " + missing);
    EXPECT_EQ(prompt.shown().back().caption, "Error");
    // A device that takes no data: the line is not in the file, and the user is told.
    const size_t seen = prompt.shown().size();
    EXPECT_EQ(FormGripo->SaveStatistics("/dev/full"), 1);
    ASSERT_EQ(prompt.shown().size(), seen + 1);
    EXPECT_TRUE(prompt.shown().back().text.startsWith("Can't write to file : /dev/full"));
    EXPECT_EQ(prompt.shown().back().caption, "Error");
}

TEST_F(GripoWindow, PrintCopiesTheCommentEvenWhenTheDialogIsCancelled)
{
    Tester(3, 0, 0, 0, 0);
    Transfer();
    FormGripo->EditComment->setText("bench 7");
    WhenModal<QPrintDialog>([](QPrintDialog* d) { d->reject(); });
    FormGripo->BitBtnPrintDataClick();
    EXPECT_EQ(Gripo->Comment, "bench 7");
}

TEST_F(GripoWindow, PrintDataThroughTheDialogDrawsTheLayoutAtTheFixedResolution)
{
    Tester(121, 3, 0, 2, 1);
    Transfer();
    FormGripo->EditComment->setText("bench 7");
    const QString pdf = QString::fromStdString(dir.file("window.pdf"));
    WhenModal<QPrintDialog>([pdf](QPrintDialog* d) {
        // A printer of a resolution of its own: the print-out is still laid out at 600 dpi.
        d->printer()->setOutputFormat(QPrinter::PdfFormat);
        d->printer()->setOutputFileName(pdf);
        d->printer()->setResolution(1200);
        d->done(QDialog::Accepted);
    });
    FormGripo->BitBtnPrintDataClick();
    const PdfDocument doc = ReadPdfWords(pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    const PdfWord* number = doc.Find("Number");
    const PdfWord* comment = doc.Find("Comment");
    const PdfWord* hgb = doc.Find("HGB");
    const PdfWord* share = doc.Find("2.5%");
    ASSERT_TRUE(number && comment && hgb && share) << doc.PageText(0).toStdString();
    // Rows 6 and 12 of 116 px (10 pt at 600 dpi), the share column 600 px right of the labels.
    EXPECT_NEAR(comment->yMin - number->yMin, 6 * 116 * 72.0 / 600, 0.3);
    EXPECT_NEAR(hgb->xMin, number->xMin, 0.3);
    EXPECT_GT(share->xMin - hgb->xMin, 600 * 72.0 / 600);
    EXPECT_LT(share->xMin - hgb->xMin, 600 * 72.0 / 600 + 12);
    EXPECT_EQ(doc.LineStartingWith("Comment").size(), 4);  // "Comment : bench 7"
    // The labels end well before the share column (on a 1200 dpi layout they would run into it).
    const auto row = doc.LineStartingWith("HGB");
    QStringList words;
    for (const PdfWord* w : row)
        words << w->text;
    ASSERT_EQ(words, (QStringList{"HGB", "<", ":", "3", "=", "2.5%"}));
    EXPECT_LT(row[3]->xMax + 10, row[4]->xMin);
}

TEST_F(GripoWindow, ExitHandsBackToTheMainWindowAndEmptiesTheWindow)
{
    Tester(121, 3, 0, 2, 1);
    FormGripo->show();
    Transfer();
    FormGripo->EditComment->setText("x");
    FormGripo->BitBtn_CancelClick();
    TFormGripo* f = FormGripo;
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(displayClosed, 1);
    EXPECT_TRUE(state.StopFlag);
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_FALSE(f->BitBtnSaveData->isEnabled());
    EXPECT_FALSE(f->BitBtnPrintData->isEnabled());
    EXPECT_FALSE(f->LabelComment->isEnabled());
    EXPECT_TRUE(f->EditComment->isHidden());
    EXPECT_EQ(f->EditComment->text(), "");
    EXPECT_EQ(Results(), QStringList(9, QString()));
    EXPECT_EQ(Gripo->Count_all, 120u);  // the record itself stays

    // Closing the window runs the same.
    FoCom->ComPort1->Open();
    f->show();
    f->close();
    EXPECT_EQ(returned, 2);
    EXPECT_FALSE(FoCom->ComPort1->Active());
}

// --- print-out -------------------------------------------------------------------

namespace {

struct PrintFixture {
    TempDir dir;
    QString pdf = QString::fromStdString(dir.file("gripo.pdf"));
    QPrinter printer{QPrinter::HighResolution};
    PrintFixture()
    {
        // ULMARO_PDF_DIR keeps the print-outs for a look.
        if (qEnvironmentVariableIsSet("ULMARO_PDF_DIR"))
            pdf = qEnvironmentVariable("ULMARO_PDF_DIR") + "/" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pdf";
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setResolution(TFormGripo::PrintResolution);
    }
    double Pt(double px) const { return px * 72.0 / printer.logicalDpiY(); }
    int Lh(int points) const { return int(std::abs(std::lround(points * printer.logicalDpiY() / 72.0)) * 1.4); }
};

C_Gripo* Record(TComPort& port)
{
    auto* g = new C_Gripo(port);
    g->Count_all = 120;
    g->Count_HGB_L = 3;
    g->Count_HGB_H = 0;
    g->Count_Shoe_L = 2;
    g->Count_Shoe_H = 1;
    g->Percent_HGB_L = (1.0 / 121) * 3 * 100;
    g->Percent_Shoe_L = (1.0 / 121) * 2 * 100;
    g->Percent_Shoe_H = (1.0 / 121) * 1 * 100;
    g->Comment = "bench 7";
    return g;
}

} // namespace

TEST(GripoPrint, TheLinesStandWhereTheLayoutPutsThem)
{
    PrintFixture pf;
    TComPort port;
    std::unique_ptr<C_Gripo> g(Record(port));
    ASSERT_TRUE(TFormGripo::PrintStatistics(pf.printer, *g));
    EXPECT_EQ(pf.printer.docName(), "Print out statistic data");
    const PdfDocument doc = ReadPdfWords(pf.pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    EXPECT_EQ(doc.pages, 1);

    const QRectF paint = pf.printer.pageLayout().paintRectPoints();
    const double left = paint.left(), top = paint.top();
    const int lh14 = pf.Lh(14), lh10 = pf.Lh(10);
    ASSERT_EQ(lh10, 116);  // 10 pt at 600 dpi: 83 px with 40 % leading

    struct Expected {
        QString first;
        QString line;
        double y;
    };
    const QString date = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    const Expected lines[] = {
        {"Gripo", "Gripo Print out statistic data.", 2.0 * lh14},
        {"Date", "Date : " + date, 3.0 * lh14},
        {"Number", "Number of measurments : 120", 6.0 * lh10},
        {"Comment", "Comment : bench 7", 12.0 * lh10},
    };
    for (const Expected& e : lines) {
        const auto words = doc.LineStartingWith(e.first);
        ASSERT_FALSE(words.empty()) << e.first.toStdString();
        QStringList t;
        for (const PdfWord* w : words)
            t << w->text;
        EXPECT_EQ(t.join(' '), e.line);
        EXPECT_NEAR(words[0]->xMin, left + pf.Pt(400), 1.0) << e.first.toStdString();
        // The top of the text line (the font's ascent above the base line).
        EXPECT_NEAR(words[0]->yMin, top + pf.Pt(e.y), 1.5) << e.first.toStdString();
    }
    // Rows 7 to 10, one line height apart, with the share column at x = 1000.
    const QString rowFirst[4] = {"HGB", "HGB", "Shoe", "Shoe"};
    const QString shares[4] = {"2.5%", "0.0%", "1.7%", "0.8%"};
    QVector<const PdfWord*> starts;
    for (const PdfWord& w : doc.words)
        if (w.text == "HGB" || w.text == "Shoe")
            starts.push_back(&w);
    ASSERT_EQ(starts.size(), 4);
    const PdfWord* number = doc.Find("Number");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(starts[i]->text, rowFirst[i]);
        EXPECT_NEAR(starts[i]->yMin - number->yMin, pf.Pt((i + 1) * lh10), 0.3) << i;
        const PdfWord* pct = doc.Find(shares[i]);
        ASSERT_NE(pct, nullptr) << shares[i].toStdString();
        EXPECT_NEAR(pct->yMin, starts[i]->yMin, 0.3);
        const PdfWord* eq = nullptr;
        for (const PdfWord& w : doc.words)
            if (w.text == "=" && std::abs(w.yMin - starts[i]->yMin) < 0.5)
                eq = &w;
        ASSERT_NE(eq, nullptr);
        // " = " starts with a blank at x = 1000.
        EXPECT_GT(eq->xMin, left + pf.Pt(1000));
        EXPECT_LT(eq->xMin, left + pf.Pt(1000) + 6);
    }
}

TEST(GripoPrint, APageTooShortForTheBodyGoesOnAtRowFour)
{
    PrintFixture pf;
    // 60 mm of paper without margins: 1417 px, eight 10-point lines a page.
    pf.printer.setPageSize(QPageSize(QSizeF(150, 60), QPageSize::Millimeter));
    pf.printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    const int lh10 = pf.Lh(10);
    ASSERT_EQ(pf.printer.height() / lh10 - 4, 8);
    TComPort port;
    std::unique_ptr<C_Gripo> g(Record(port));
    ASSERT_TRUE(TFormGripo::PrintStatistics(pf.printer, *g));
    const PdfDocument doc = ReadPdfWords(pf.pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    ASSERT_EQ(doc.pages, 3);
    // Rows 6 and 7 on the first page; 8, 9, 10 go on at rows 4, 5, 6; the
    // comment (row 12 on a long page) would be row 8 there, so it starts the third.
    EXPECT_TRUE(doc.PageText(0).contains("Number of measurments : 120"));
    EXPECT_NE(doc.Find("2.5%", 0), nullptr) << doc.PageText(0).toStdString();
    const PdfWord* hgbHigh = doc.Find("HGB", 1);
    ASSERT_NE(hgbHigh, nullptr);
    EXPECT_NEAR(hgbHigh->yMin, pf.Pt(4 * lh10), 1.5);
    EXPECT_NE(doc.Find("0.8%", 1), nullptr) << doc.PageText(1).toStdString();
    EXPECT_EQ(doc.Find("Comment", 1), nullptr);
    const PdfWord* comment = doc.Find("Comment", 2);
    ASSERT_NE(comment, nullptr);
    EXPECT_NEAR(comment->yMin, pf.Pt(4 * lh10), 1.5);
}

// The chart toolbar's file and print dialogs in the real main window, while
// the chart loop samples the simulated converter of demo mode on a clock the
// test drives.
#include "acquisition/CAD_wandler.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "sim/SimConverter.h"
#include "tests/acquisition/demo_chart_fixture.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class ChartToolbarTest : public DemoChartTest {
protected:
    void StartChart()
    {
        ASSERT_TRUE(MainForm->DeviceItems.contains("N20kVm2"));
        MainForm->DeviceItems["N20kVm2"]->trigger();  // Talvis, E-Fieldmeter, ±20kV/m
        MainForm->Grafik1->trigger();
    }
    TTeeCommander* Toolbar() const { return MainForm->TeeCommander1; }
    void Stop()
    {
        if (MainForm->b_Stop_->isEnabled() && !MainForm->StopFlag)
            MainForm->b_Stop_->click();
    }
};

QStringList ReadLines(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromLatin1(f.readAll()).split("\r\n");
}

TEST_F(ChartToolbarTest, SamplingGoesOnWhileASaveDialogIsOpen)
{
    StartChart();
    const QString path = QString::fromStdString(dir.file("export.csv"));
    size_t opened = 0, accepted = 0;
    bool sawOpenDialog = false;
    onSample = [&] {
        QFileDialog* dialog = Toolbar()->SaveDialog1;
        if (opened == 0 && Points() >= 20) {
            Toolbar()->ExportCsvButton->trigger();  // returns at once, the dialog stays open
            opened = Points();
        } else if (opened && !accepted && dialog && dialog->isVisible()) {
            sawOpenDialog = true;
            if (Points() >= opened + 50) {
                // Typed into the name field, as a user would.
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(path);
                static_cast<QDialog*>(dialog)->accept();  // as the Save button does
                accepted = Points();
            }
        } else if (accepted && Points() >= accepted + 20) {
            Stop();
        } else if (Points() > 5000) {
            Stop();  // the dialog never showed: end the run, the checks below fail
        }
    };
    MainForm->b_Start->click();

    EXPECT_TRUE(sawOpenDialog);
    ASSERT_GT(opened, 0u);
    ASSERT_GE(accepted, opened + 50) << "samples kept coming while the dialog was open";
    EXPECT_EQ(Points(), accepted + 20);
    EXPECT_TRUE(Toolbar()->SaveDialog1.isNull()) << "the dialog is gone once accepted";

    // The file holds what was plotted when the dialog was accepted.
    const QStringList lines = ReadLines(path);
    ASSERT_EQ(size_t(lines.size()), accepted + 2);
    EXPECT_EQ(lines[0], "Time (s);Value (kV/m);Time stamp");
    EXPECT_EQ(lines.last(), "");
    for (size_t i = 1; i <= accepted; ++i) {
        const QStringList f = lines[qsizetype(i)].split(';');
        ASSERT_EQ(f.size(), 3) << lines[qsizetype(i)].toStdString();
        EXPECT_EQ(QDateTime::fromString(f[2], Qt::ISODateWithMs).toMSecsSinceEpoch(),
                  MainForm->Chart1->PointStamp(i - 1));
    }
    // The next dialog opens where this file went.
    EXPECT_EQ(QFileInfo(TTeeCommander::DefaultFolder()).canonicalFilePath(),
              QFileInfo(QString::fromStdString(dir.path())).canonicalFilePath());
}

TEST_F(ChartToolbarTest, DialogsOfferAFileNameAndOpenOneAtATime)
{
    StartChart();
    size_t rejectedAt = 0;
    QString offered;
    onSample = [&] {
        if (Points() == 10) {
            Toolbar()->SavePngButtonClick();
            ASSERT_TRUE(Toolbar()->SaveDialog1);
            offered = Toolbar()->SaveDialog1->selectedFiles().value(0);
            QFileDialog* first = Toolbar()->SaveDialog1;
            // A second click, of any file or print button, brings the open one forward.
            Toolbar()->SavePdfButtonClick();
            Toolbar()->PrintButtonClick();
            EXPECT_EQ(Toolbar()->SaveDialog1.data(), first);
            EXPECT_TRUE(Toolbar()->PrintDialog1.isNull());
        } else if (Points() == 40 && Toolbar()->SaveDialog1) {
            Toolbar()->SaveDialog1->reject();
            rejectedAt = Points();
        } else if (Points() >= 60) {
            Stop();
        }
    };
    MainForm->b_Start->click();
    EXPECT_EQ(rejectedAt, 40u);
    EXPECT_TRUE(Toolbar()->SaveDialog1.isNull());
    // Talvis, the date and time without ":", in the documents folder or home.
    EXPECT_TRUE(QRegularExpression(R"(/Talvis_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.png$)").match(offered).hasMatch())
        << offered.toStdString();
    EXPECT_FALSE(QFileInfo(offered).fileName().contains(':'));

    EXPECT_EQ(Toolbar()->DefaultFileName("csv", QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9))),
              "Talvis_2026-12-09_14-05-09.csv");
}

TEST_F(ChartToolbarTest, PrintDialogLeavesTheLoopRunningAndPrintsWhenAccepted)
{
    StartChart();
    const QString pdf = QString::fromStdString(dir.file("printed.pdf"));
    size_t opened = 0, accepted = 0;
    onSample = [&] {
        QPrintDialog* dialog = Toolbar()->PrintDialog1;
        if (opened == 0 && Points() >= 10) {
            Toolbar()->PrintButton->trigger();
            opened = Points();
        } else if (opened && !accepted && dialog && Points() >= opened + 30) {
            // Paper stands in as a PDF file; the dialog's own choices are skipped.
            dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog->printer()->setOutputFileName(pdf);
            dialog->done(QDialog::Accepted);
            accepted = Points();
        } else if (accepted || Points() > 3000) {
            Stop();
        }
    };
    MainForm->b_Start->click();
    ASSERT_GE(accepted, opened + 30);
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
    EXPECT_TRUE(Toolbar()->PrintDialog1.isNull());
}

TEST_F(ChartToolbarTest, AFailedWriteIsReportedWithoutStoppingTheLoop)
{
    StartChart();
    const QString bad = QString::fromStdString(dir.file("no/such/folder/x.csv"));
    size_t accepted = 0;
    QMessageBox* report = nullptr;
    onSample = [&] {
        if (Points() == 10) {
            Toolbar()->ExportCsvButtonClick();
        } else if (Points() == 20 && Toolbar()->SaveDialog1) {
            // As if the folder vanished between choosing and writing.
            emit Toolbar()->SaveDialog1->fileSelected(bad);
            Toolbar()->SaveDialog1->close();
            accepted = Points();
        } else if (accepted && !report) {
            report = Toolbar()->findChild<QMessageBox*>();
        } else if (report && Points() >= accepted + 30) {
            Stop();
        } else if (Points() > 3000) {
            Stop();
        }
    };
    MainForm->b_Start->click();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->windowTitle(), "Error");
    EXPECT_EQ(report->text(), "The file could not be written:\n" + bad);
    EXPECT_TRUE(report->isVisible());
    EXPECT_GE(Points(), accepted + 30);
    report->accept();
}

} // namespace

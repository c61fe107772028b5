// The chart as a data logger in the real windows, offscreen: runs recorded
// as they happen, a recording opened back, two cursors measuring between
// them, and the printed page as a reader of the PDF finds it.
#include "acquisition/ChartFile.h"
#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "app/TMainForm.h"
#include "cpm/TFormChartCPM.h"
#include "tests/acquisition/demo_chart_fixture.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class ChartLoggerTest : public DemoChartTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MainForm->DeviceItems.contains("N20kVm2"));
        MainForm->DeviceItems["N20kVm2"]->trigger();  // Talvis, E-Fieldmeter, ±20kV/m
        MainForm->Grafik1->trigger();
    }
    void RunUntil(size_t n)
    {
        onSample = [this, n] {
            if (Points() >= n && !MainForm->StopFlag)
                MainForm->b_Stop_->click();
        };
        MainForm->b_Start->click();
        onSample = nullptr;
    }
    QStringList Recordings() const
    {
        QDir folder(QString::fromStdString(dir.file("Recordings")));
        QStringList files = folder.entryList({"*.csv"}, QDir::Files, QDir::Name);
        for (QString& f : files)
            f = folder.filePath(f);
        return files;
    }
    // The file read back matches the chart's trace point for point.
    void ExpectRecordingHolds(const QString& path, size_t first, size_t count)
    {
        TTraceStore store;
        TChartFileInfo info;
        QString error;
        ASSERT_EQ(ReadChartFile(path, store, info, error), TChartReadResult::Ok) << error.toStdString();
        EXPECT_EQ(info.Device, "Talvis");
        EXPECT_EQ(info.Mode, "E-Fieldmeter");
        EXPECT_EQ(info.Range, QString::fromUtf8("±20kV/m"));
        EXPECT_EQ(info.Unit, "kV/m");
        EXPECT_EQ(info.PeriodMs, 10);
        ASSERT_EQ(store.Size(), count);
        TChart* c = MainForm->Chart1;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_NEAR(store.X(i), c->PointX(first + i), 5e-4) << i;
            EXPECT_NEAR(store.Y(i), c->PointY(first + i), 1e-9) << i;
            EXPECT_EQ(store.Stamp(i), c->PointStamp(first + i)) << i;
        }
    }
};

TEST_F(ChartLoggerTest, EveryRunIsRecordedAsItHappens)
{
    EXPECT_TRUE(MainForm->TeeCommander1->RecordButton->isVisible());
    EXPECT_TRUE(MainForm->TeeCommander1->RecordButton->isChecked());  // on by default
    RunUntil(60);
    ASSERT_EQ(Recordings().size(), 1);
    const QString first = Recordings().front();
    EXPECT_TRUE(QFileInfo(first).fileName().startsWith("Talvis_")) << first.toStdString();
    EXPECT_TRUE(MainForm->Chart1->StatusText().contains(QDir::toNativeSeparators(first)));
    ExpectRecordingHolds(first, 0, 60);

    // Stop -> Start goes on in the same file
    RunUntil(90);
    ASSERT_EQ(Recordings().size(), 1);
    ExpectRecordingHolds(first, 0, 90);

    // Reset while stopped: the next run gets a file of its own
    MainForm->b_Reset->click();
    host.now += 1000;  // another second on the name
    RunUntil(20);
    ASSERT_EQ(Recordings().size(), 2);
    const QString second = Recordings().back() == first ? Recordings().front() : Recordings().back();
    ExpectRecordingHolds(second, 0, 20);

    // Record off is remembered and leaves the next run in memory only
    MainForm->TeeCommander1->RecordButton->trigger();
    EXPECT_FALSE(TTeeCommander::RecordSetting());
    MainForm->b_Reset->click();
    host.now += 1000;
    RunUntil(10);
    EXPECT_EQ(Recordings().size(), 2);
    MainForm->TeeCommander1->RecordButton->trigger();
    EXPECT_TRUE(TTeeCommander::RecordSetting());

    // Exit ends the recording: the file is whole
    MainForm->b_Reset->click();
    host.now += 1000;
    RunUntil(5);
    MainForm->b_Cancel->click();
    ASSERT_EQ(Recordings().size(), 3);
}

// A recording another program holds keeps its lines in waiting; ending it
// asks first, and Retry writes them once the file is free, Cancel leaves
// them out and says so.
TEST_F(ChartLoggerTest, AHeldRecordingAsksBeforeItsLastSamplesAreLeftOut)
{
    for (const bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "Retry" : "Cancel");
        MainForm->b_Reset->click();
        host.now += 1000;  // another second on the name
        RunUntil(10);
        const QString path = MainForm->Chart1->Recorder().Path().c_str();
        const int holder = ::open(path.toLocal8Bit().constData(), O_RDONLY);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        RunUntil(40);
        EXPECT_TRUE(MainForm->Chart1->Recorder().HasWaitingLines());

        ScriptedPrompt prompt;
        if (retry) {
            prompt.onShown = [&](const ScriptedPrompt::Shown&) { ::flock(holder, LOCK_UN); };
            prompt.Press(TPromptResult::Retry);
        } else {
            prompt.Press(TPromptResult::Cancel);
        }
        MainForm->b_Reset->click();  // stopped: the recording ends
        ::close(holder);
        ASSERT_EQ(prompt.shown().size(), 1u);
        EXPECT_TRUE(prompt.shown()[0].text.contains("is open in another program")) << prompt.shown()[0].text.toStdString();
        EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::RetryCancel);
        TTraceStore store;
        TChartFileInfo info;
        QString error;
        ASSERT_EQ(ReadChartFile(path, store, info, error), TChartReadResult::Ok) << error.toStdString();
        const auto boxes = MainForm->findChildren<QMessageBox*>("RecordingError");
        if (retry) {
            EXPECT_EQ(store.Size(), 40u);
            EXPECT_TRUE(boxes.isEmpty());
            EXPECT_TRUE(MainForm->Chart1->StatusText().startsWith("Recorded to"));
        } else {
            EXPECT_EQ(store.Size(), 10u);
            EXPECT_EQ(boxes.size(), 1);
            EXPECT_TRUE(MainForm->Chart1->StatusText().startsWith("Not recording: Another program holds the file."))
                << MainForm->Chart1->StatusText().toStdString();
            for (QMessageBox* b : boxes)
                b->close();
        }
    }
}

TEST_F(ChartLoggerTest, AFolderThatCannotBeWrittenLeavesTheChartSampling)
{
    // A file is in the way of the Recordings folder.
    dir.write("Recordings", "x");
    RunUntil(30);
    EXPECT_EQ(Points(), 30u);
    EXPECT_TRUE(MainForm->Chart1->StatusText().startsWith("Not recording")) << MainForm->Chart1->StatusText().toStdString();
    const auto boxes = MainForm->findChildren<QMessageBox*>("RecordingError");
    ASSERT_EQ(boxes.size(), 1);  // one message, not one per sample
    boxes.front()->close();
    RunUntil(40);  // a continued run does not ask again
    EXPECT_TRUE(MainForm->findChildren<QMessageBox*>("RecordingError").isEmpty());
}

TEST_F(ChartLoggerTest, ARecordingOpensIntoTheStoppedChart)
{
    RunUntil(50);
    ASSERT_EQ(Recordings().size(), 1);
    const QString path = Recordings().front();
    std::vector<double> xs, ys;
    for (size_t i = 0; i < Points(); ++i)
        xs.push_back(MainForm->Chart1->PointX(i)), ys.push_back(MainForm->Chart1->PointY(i));
    MainForm->b_Reset->click();
    ASSERT_EQ(Points(), 0u);

    // Not while running
    onSample = [this] {
        if (Points() == 3) {
            EXPECT_FALSE(MainForm->TeeCommander1->CanOpen());
            MainForm->b_Stop_->click();
        }
    };
    MainForm->b_Start->click();
    onSample = nullptr;

    TTeeCommander* bar = MainForm->TeeCommander1;
    ASSERT_TRUE(bar->CanOpen());
    ASSERT_TRUE(bar->OpenChartFile(path));
    ASSERT_EQ(Points(), xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        EXPECT_NEAR(MainForm->Chart1->PointX(i), xs[i], 5e-4);
        EXPECT_DOUBLE_EQ(MainForm->Chart1->PointY(i), ys[i]);
    }
    EXPECT_TRUE(MainForm->Chart1->Title().contains(QFileInfo(path).fileName()));
    EXPECT_TRUE(MainForm->Chart1->PrintHeading().startsWith(QString::fromUtf8("Talvis   E-Fieldmeter   ±20kV/m   Start : ")))
        << MainForm->Chart1->PrintHeading().toStdString();
    EXPECT_TRUE(MainForm->StoppedFlag);
    EXPECT_EQ(Recordings().size(), 2);  // the 3-point run

    // A file that is not one: a message, and the chart as it was
    dir.write("picture.csv", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    EXPECT_FALSE(bar->OpenChartFile(QString::fromStdString(dir.file("picture.csv"))));
    EXPECT_EQ(Points(), xs.size());
    EXPECT_EQ(MainForm->findChildren<QMessageBox*>("OpenError").size(), 1);
    for (QMessageBox* box : MainForm->findChildren<QMessageBox*>("OpenError"))
        box->close();

    // Start after a file begins a new run instead of continuing the file
    RunUntil(5);
    EXPECT_EQ(Points(), 5u);
    EXPECT_EQ(MainForm->Chart1->PointX(0), 0);
}

// A chart of known points: the cursors go to the nearest points, and the
// read-out's figures are those of the samples between them.
TEST(ChartCursors, TwoCursorsMeasureTheStretchBetweenThem)
{
    TChart c;
    c.resize(800, 500);
    c.show();
    c.SetValueAxisTitle("kV/m");
    c.SetValueAxisRange(-20, 20);
    c.SetTimeAxisMax(10);
    std::vector<double> y;
    for (int i = 0; i <= 1000; ++i) {
        y.push_back(10 * std::sin(i * 0.05));
        c.AddPoint(i * 0.01, y.back());
    }
    c.RepaintNow();
    QCustomPlot* plot = c.Plot();
    auto pixelAt = [&](double x) { return QPointF(plot->xAxis->coordToPixel(x), plot->axisRect()->center().y()); };

    c.SetCursorEnabled(true);
    c.MoveCursorTo(pixelAt(2.0));
    EXPECT_EQ(c.CursorIndex(0), 200);
    EXPECT_EQ(c.CursorIndex(1), -1);
    c.ClickCursorAt(pixelAt(2.0));
    c.MoveCursorTo(pixelAt(6.5));
    ASSERT_EQ(c.CursorIndex(1), 650);
    c.ClickCursorAt(pixelAt(6.5));
    c.MoveCursorTo(pixelAt(9.0));  // both placed: the mouse moves neither
    EXPECT_EQ(c.CursorIndex(0), 200);
    EXPECT_EQ(c.CursorIndex(1), 650);

    double sum = 0, lo = 1e9, hi = -1e9;
    for (int i = 200; i <= 650; ++i)
        sum += y[size_t(i)], lo = std::min(lo, y[size_t(i)]), hi = std::max(hi, y[size_t(i)]);
    const double mean = sum / 451;
    double m2 = 0;
    for (int i = 200; i <= 650; ++i)
        m2 += (y[size_t(i)] - mean) * (y[size_t(i)] - mean);
    const QString text = c.CursorText();
    const QLocale l = ChartFileLocale();
    auto v = [&](double value) { return ChartNumber(value, l, 6) + "kV/m"; };
    EXPECT_TRUE(text.contains("1: 2 sek.   " + v(y[200]))) << text.toStdString();
    EXPECT_TRUE(text.contains("2: 6.5 sek.   " + v(y[650]))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Δt 4.5 sek.   Δ ") + v(y[650] - y[200]))) << text.toStdString();
    EXPECT_TRUE(text.contains("mean " + v(mean) + "   min " + v(lo) + "   max " + v(hi) + "   " +
                              QString::fromUtf8("σ ") + v(std::sqrt(m2 / 450)) + "   (451 samples)"))
        << text.toStdString();

    // A third click moves the nearer cursor; cursors off forgets both
    c.ClickCursorAt(pixelAt(7.0));
    EXPECT_EQ(c.CursorIndex(0), 200);
    EXPECT_EQ(c.CursorIndex(1), 700);
    c.SetCursorEnabled(false);
    EXPECT_EQ(c.CursorIndex(0), -1);
    EXPECT_TRUE(c.CursorText().isEmpty());
}

// The words of a PDF page with their boxes, as pdftotext finds them.
struct TPdfWord {
    QString text;
    double xMin, yMin, xMax, yMax;
    // The font's extent across the line: labels turned by 90 degrees run
    // down the page, so for a word of several characters it is the
    // shorter side of the box.
    double Size() const
    {
        const double w = xMax - xMin, h = yMax - yMin;
        return text.size() >= 2 ? std::min(w, h) : h;
    }
};
bool ReadPdfWords(const QString& pdf, double& pageWidth, double& pageHeight, std::vector<TPdfWord>& words)
{
    QProcess p;
    p.start("pdftotext", {"-bbox", pdf, "-"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return false;
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    const QRegularExpression page(R"re(<page width="([\d.]+)" height="([\d.]+)")re");
    const auto pm = page.match(html);
    if (!pm.hasMatch())
        return false;
    pageWidth = pm.captured(1).toDouble();
    pageHeight = pm.captured(2).toDouble();
    const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.push_back({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                         m.captured(4).toDouble()});
    }
    return true;
}

void ExpectReadablePage(TChart& chart, const QString& heading, const QString& timeTitle,
                        const QString& valueTitle, const std::string& pdfPath,
                        const QStringList& legendWords = {})
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setOutputFileName(QString::fromStdString(pdfPath));
    ASSERT_TRUE(chart.PrintPage(&printer, heading));

    double w = 0, h = 0;
    std::vector<TPdfWord> words;
    ASSERT_TRUE(ReadPdfWords(QString::fromStdString(pdfPath), w, h, words));
    EXPECT_GT(w, h) << "landscape";
    double left = w, right = 0, top = h, bottom = 0;
    int ticks = 0;
    bool timeTitleSeen = false, valueTitleSeen = false, headingSeen = false;
    const QRegularExpression number(R"(^-?[\d,]+(\.\d+)?$)");
    const double headingBottom = 12 + 40.0 * (heading.count('\n') + 1);
    for (const TPdfWord& word : words) {
        left = std::min(left, word.xMin), right = std::max(right, word.xMax);
        top = std::min(top, word.yMin), bottom = std::max(bottom, word.yMax);
        if (number.match(word.text).hasMatch() && word.yMin > headingBottom * 0.5 + 20) {
            ++ticks;
            // a 9 to 11 pt font: its word box is about 1.0 to 1.25 times that size
            EXPECT_GE(word.Size(), 9.0) << word.text.toStdString();
            EXPECT_LE(word.Size(), 11 * 1.3) << word.text.toStdString();
        }
        timeTitleSeen |= word.text == timeTitle;
        valueTitleSeen |= word.text == valueTitle;
        headingSeen |= word.text == heading.section(' ', 0, 0);
        if (legendWords.contains(word.text)) {
            // the legend reads at the tick labels' size, inside its box
            EXPECT_GE(word.Size(), 9.0) << word.text.toStdString();
            EXPECT_LE(word.Size(), 11 * 1.3) << word.text.toStdString();
        }
    }
    for (const QString& legendWord : legendWords)
        EXPECT_TRUE(std::any_of(words.begin(), words.end(), [&](const TPdfWord& x) { return x.text == legendWord; }))
            << "legend entry " << legendWord.toStdString();
    EXPECT_GE(ticks, 8);
    EXPECT_TRUE(timeTitleSeen) << "time axis title";
    EXPECT_TRUE(valueTitleSeen) << "value axis title";
    EXPECT_TRUE(headingSeen) << "heading";
    // the chart fills the printable area, not a corner of it
    EXPECT_GT(right - left, 0.85 * w);
    EXPECT_GT(bottom - top, 0.80 * h);
}

TEST_F(ChartLoggerTest, ThePrintedPageReadsWell)
{
    RunUntil(200);
    EXPECT_TRUE(MainForm->Chart1->PrintHeading().startsWith(QString::fromUtf8("Talvis   E-Fieldmeter   ±20kV/m   Start : ")));
    ExpectReadablePage(*MainForm->Chart1, MainForm->Chart1->PrintHeading(), "sek.", "kV/m", dir.file("chart.pdf"));
    // the screen's chart is as it was
    EXPECT_EQ(MainForm->Chart1->Title().left(12), "--Talvis--  ");

    // the decay chart prints through the same page
    TFormChartCPM* decay = FormChartCPM;
    ASSERT_NE(decay, nullptr);
    for (int i = 0; i < 300; ++i)
        decay->AddPoint(TCpmSeries::Measured, i, 1000 * std::exp(-i / 80.0), TCpmColour::Red);
    decay->FitTimeAxis();
    decay->SetTitle("Test 1\npos. decay 2.3 sec / neg. decay 12.0 sec / offset -123.0 V");
    ExpectReadablePage(*decay->Chart1, decay->Title(), "Sek./10", "Volt", dir.file("decay.pdf"),
                       {"Measured", "Vstart", "Vstop", "Zero"});

    // both are named like the exports when printed to a file
    QPrinter printer;
    MainForm->TeeCommander1->PreparePrinter(printer, QDateTime(QDate(2026, 12, 9), QTime(22, 36, 16)));
    EXPECT_EQ(printer.docName(), "Talvis_2026-12-09_22-36-16");
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
}

}  // namespace

#include "acquisition/TChart.h"
#include "acquisition/TraceStore.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QWindow>
#include <QPicture>
#include <QBackingStore>
#include <QDateTime>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <climits>
#include <limits>
#include <cmath>
#include <random>
#include <vector>

namespace {

void Settle(int ms = 0)
{
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (t.elapsed() < ms);
}

// Pixel where time 0 sits: the axis start, shifted by the start offset.
double AxisStartPixel(const TChart& c) { return c.Plot()->xAxis->coordToPixel(0.0); }

QString ReadAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromUtf8(f.readAll());
}

}  // namespace

TEST(ChartWidget, PointsAndTheirColoursGoInAndComeOut)
{
    TChart c;
    c.AddPoint(0.0, 1.5);
    c.AddPoint(0.01, -2.25, Qt::red);
    c.AddPoint(0.02, 3.0, Qt::black);
    ASSERT_EQ(c.PointCount(), 3u);
    EXPECT_EQ(c.PointX(1), 0.01);
    EXPECT_EQ(c.PointY(1), -2.25);
    EXPECT_EQ(c.PointColor(0), QColor(Qt::black));
    EXPECT_EQ(c.PointColor(1), QColor(Qt::red));
    EXPECT_EQ(c.PointColor(2), QColor(Qt::black));
    c.ClearSeries();
    EXPECT_EQ(c.PointCount(), 0u);
}

TEST(ChartWidget, AxisSettingsAndDesignRoundTrip)
{
    TChart c;
    c.SetTimeAxisMax(60);
    c.SetTimeAxisStartOffset(0);
    c.SetValueAxisRange(-20.02, 20.02);
    c.SetTimeAxisTitle("Time sek.");
    c.SetValueAxisTitle("kV/m");
    c.SetTitle("--Talvis--  Start : 1/2/26 8:30:00 AM");
    EXPECT_EQ(c.TimeAxisMax(), 60);
    EXPECT_EQ(c.TimeAxisStartOffset(), 0);
    EXPECT_EQ(c.ValueAxisMin(), -20.02);
    EXPECT_EQ(c.ValueAxisMax(), 20.02);
    EXPECT_EQ(c.TimeAxisTitle(), "Time sek.");
    EXPECT_EQ(c.ValueAxisTitle(), "kV/m");
    EXPECT_EQ(c.Title(), "--Talvis--  Start : 1/2/26 8:30:00 AM");
    c.SetTitle("line one\nline two");
    EXPECT_EQ(c.Title(), "line one\nline two");

    QCustomPlot* p = c.Plot();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->xAxis->range().lower, 0);
    EXPECT_EQ(p->xAxis->range().upper, 60);
    EXPECT_EQ(p->yAxis->range().lower, -20.02);
    EXPECT_EQ(p->yAxis->range().upper, 20.02);
    EXPECT_FALSE(p->legend->visible());
    EXPECT_EQ(p->yAxis->basePen().color(), QColor(0, 64, 128));
    EXPECT_EQ(p->yAxis->basePen().width(), 3);
    EXPECT_EQ(p->yAxis->labelFont().pixelSize(), 16);
    EXPECT_TRUE(p->yAxis->labelFont().bold());
    auto* title = qobject_cast<QCPTextElement*>(p->plotLayout()->element(0, 0));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->font().pixelSize(), 19);
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(title->textColor(), QColor(128, 0, 0));

    // A zero-width axis (before the first sample) still draws.
    c.SetTimeAxisMax(0);
    EXPECT_EQ(c.TimeAxisMax(), 0);
    EXPECT_LT(p->xAxis->range().lower, p->xAxis->range().upper);
    c.RepaintNow();
}

TEST(ChartWidget, StartOffsetShiftsTheAxisStartAndSurvivesAResize)
{
    TChart c;
    c.show();
    c.SetTimeAxisMax(100);
    c.SetTimeAxisStartOffset(-400);
    c.SetValueAxisRange(-1, 1);
    c.RepaintNow();
    QCustomPlot* p = c.Plot();
    EXPECT_NEAR(AxisStartPixel(c), p->axisRect()->left() - 400, 0.5);
    EXPECT_NEAR(p->xAxis->coordToPixel(100), p->axisRect()->right() + 1, 1.0);

    const int before = p->axisRect()->width();
    c.resize(900, 500);
    Settle(30);
    c.RepaintNow();
    ASSERT_NE(p->axisRect()->width(), before);
    EXPECT_NEAR(AxisStartPixel(c), p->axisRect()->left() - 400, 0.5);
    EXPECT_NEAR(p->xAxis->coordToPixel(100), p->axisRect()->right() + 1, 1.0);

    c.SetTimeAxisStartOffset(0);
    c.RepaintNow();
    EXPECT_NEAR(AxisStartPixel(c), p->axisRect()->left(), 0.5);
}

TEST(ChartWidget, TimeLabelsAreWholeNumbersThatFitTheAxis)
{
    // Over plot widths and run lengths from seconds to days: labels are
    // whole seconds at a regular 1-2-5 step, never closer than a label is
    // wide (nor than 100 px, so a repaint draws few of them), and never so
    // sparse that a plot of common width shows fewer than two.
    TChart c;
    c.show();
    c.SetValueAxisRange(-1, 1);
    QCustomPlot* p = c.Plot();
    const QFontMetrics fm(p->xAxis->tickLabelFont());
    for (const int width : {400, 649, 1200}) {
        c.resize(width, 500);
        Settle(30);
        for (const double max : {10.0, 20.0, 95.0, 600.0, 3 * 3600.0, 86400.0 * 3}) {
            SCOPED_TRACE(testing::Message() << "width " << width << " max " << max);
            c.SetTimeAxisMax(max);
            c.RepaintNow();
            const auto ticks = p->xAxis->tickVector();
            const auto labels = p->xAxis->tickVectorLabels();
            std::vector<double> shown;  // ticks inside the plot
            int widest = 0;
            for (int k = 0; k < ticks.size(); ++k) {
                EXPECT_EQ(ticks[k], std::round(ticks[k]));
                EXPECT_FALSE(labels[k].contains('.')) << labels[k].toStdString();
                if (ticks[k] >= p->xAxis->range().lower && ticks[k] <= p->xAxis->range().upper) {
                    shown.push_back(ticks[k]);
                    widest = std::max(widest, fm.horizontalAdvance(labels[k]));
                }
            }
            ASSERT_GE(shown.size(), 2u);
            const double step = shown[1] - shown[0];
            const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
            EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                        std::fabs(mantissa - 5) < 1e-9)
                << step;
            for (size_t k = 1; k < shown.size(); ++k)
                EXPECT_EQ(shown[k] - shown[k - 1], step);
            const double pixels = p->xAxis->coordToPixel(shown[1]) - p->xAxis->coordToPixel(shown[0]);
            EXPECT_GT(pixels, widest);
            EXPECT_GE(pixels, 99.0);
            // The next smaller step would have crowded the labels.
            EXPECT_LT(pixels, 2.5 * std::max(100.0, double(widest + fm.horizontalAdvance("00"))) + 1);
        }
    }

    c.resize(649, 500);
    Settle(30);
    c.SetTimeAxisMax(3 * 3600);  // a three-hour run
    c.RepaintNow();
    const auto labels = p->xAxis->tickVectorLabels();
    EXPECT_TRUE(labels.contains("10,000")) << labels.join(' ').toStdString();

    LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    c.RepaintNow();
    EXPECT_TRUE(p->xAxis->tickVectorLabels().contains("10.000"));
}

TEST(ChartWidget, CsvExportWritesEveryPointWithTheLocalesSeparator)
{
    const qint64 none = TTraceStore::NoStamp;
    TChart c;
    c.SetValueAxisTitle("kV/m");
    c.AddPoint(0.0, 1.5, Qt::black, none);
    c.AddPoint(0.01, -2.25, Qt::black, none);
    c.AddPoint(0.01 + 0.01, 0.123 * 20, Qt::black, none);  // binary noise must not reach the file
    c.AddPoint(1234.5, 10000, Qt::black, none);
    double t = 0;
    for (int i = 0; i < 100000; ++i)
        t += 0.01;  // the loop's time after 100000 samples, drift and all
    c.AddPoint(t, -0.000125, Qt::black, none);
    const QString expected = "Time (s);Value (kV/m);Time stamp\r\n0;1.5;\r\n0.01;-2.25;\r\n0.02;2.46;\r\n"
                             "1234.5;10000;\r\n1000;-0.000125;\r\n";
    EXPECT_EQ(c.CsvText(), expected);

    TempDir dir;
    ASSERT_TRUE(c.ExportCsv(QString::fromStdString(dir.file("trace.csv"))));
    EXPECT_EQ(ReadAll(dir.file("trace.csv")), expected);

    LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(c.CsvText(), "Time (s);Value (kV/m);Time stamp\r\n0;1,5;\r\n0,01;-2,25;\r\n0,02;2,46;\r\n"
                           "1234,5;10000;\r\n1000;-0,000125;\r\n");

    EXPECT_FALSE(c.ExportCsv(QString::fromStdString(dir.file("no/such/folder/trace.csv"))));
}

TEST(ChartWidget, CsvExportStampsEachPointWithItsWallClockTime)
{
    TChart c;
    // A unit from the settings file is the user's text: Windows-1252 in the
    // file, and a ";" in it must not open a column.
    c.SetValueAxisTitle(QString::fromUtf8("µA;x"));
    const qint64 start = QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9, 120)).toMSecsSinceEpoch();
    c.AddPoint(0, 1, Qt::black, start);
    c.AddPoint(0.01, 2, Qt::black, start + 880);    // the next second
    c.AddPoint(0.02, 3, Qt::black, start + 885);    // within that second
    c.AddPoint(0.03, 4, Qt::black, start - 1120);   // clock set back, across a second
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    c.AddPoint(0.04, 5);                            // stamped as it comes in
    const qint64 after = QDateTime::currentMSecsSinceEpoch();

    const QStringList lines = c.CsvText().split("\r\n");
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], QString::fromUtf8("Time (s);Value (µA,x);Time stamp"));
    EXPECT_EQ(lines[6], "");
    const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$)");
    const qint64 expected[] = {start, start + 880, start + 885, start - 1120};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const QStringList fields = lines[i + 1].split(';');
        ASSERT_EQ(fields.size(), 3);
        EXPECT_TRUE(iso.match(fields[2]).hasMatch()) << fields[2].toStdString();
        const qint64 back = QDateTime::fromString(fields[2], Qt::ISODateWithMs).toMSecsSinceEpoch();
        if (i < 4) {
            EXPECT_EQ(back, expected[i]);
        } else {
            EXPECT_GE(back, before);
            EXPECT_LE(back, after);
        }
    }
    EXPECT_TRUE(lines[1].contains("T14:05:09.120"));
    EXPECT_TRUE(lines[2].contains("T14:05:10.000"));
    EXPECT_TRUE(lines[4].contains("T14:05:08.000"));

    TempDir dir;
    ASSERT_TRUE(c.ExportCsv(QString::fromStdString(dir.file("stamped.csv"))));
    QFile f(QString::fromStdString(dir.file("stamped.csv")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray file = f.readAll();
    EXPECT_TRUE(file.startsWith("Time (s);Value (\xB5" "A,x);Time stamp\r\n"));
    EXPECT_EQ(QString::fromLatin1(file), c.CsvText());
}

TEST(ChartWidget, PngAndPdfAreWritten)
{
    TChart c;
    c.show();
    c.SetTitle("--Talvis--");
    c.SetTimeAxisMax(10);
    c.SetValueAxisRange(-2, 2);
    for (int i = 0; i < 1000; ++i)
        c.AddPoint(i * 0.01, std::sin(i * 0.05), i % 100 == 0 ? QColor(Qt::red) : QColor(Qt::black));
    TempDir dir;
    const QString png = QString::fromStdString(dir.file("chart.png"));
    const QString pdf = QString::fromStdString(dir.file("chart.pdf"));
    ASSERT_TRUE(c.SavePng(png));
    ASSERT_TRUE(c.SavePdf(pdf));
    EXPECT_GT(QFileInfo(png).size(), 1000);
    EXPECT_GT(QFileInfo(pdf).size(), 1000);

    // Printing goes through the same drawing; a PDF printer stands in for paper.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString printed = QString::fromStdString(dir.file("printed.pdf"));
    printer.setOutputFileName(printed);
    c.PrintTo(&printer);
    EXPECT_GT(QFileInfo(printed).size(), 1000);

    // The trace is really drawn: black pixels inside the plot area.
    QImage img(png);
    ASSERT_FALSE(img.isNull());
    const QRect area = c.Plot()->axisRect()->rect();
    int dark = 0;
    for (int y = area.top() + 2; y < area.bottom() - 2; ++y)
        for (int x = area.left() + 2; x < area.right() - 2; ++x)
            dark += qGray(img.pixel(x, y)) < 60;
    EXPECT_GT(dark, 200);
}

TEST(ChartWidget, RepaintRequestsCoalesceIntoFewReplots)
{
    TChart c;
    c.show();
    c.SetTimeAxisMax(10);
    c.SetValueAxisRange(-1, 1);
    Settle(50);
    const int before = c.ReplotCount();
    for (int i = 0; i < 200; ++i) {
        c.AddPoint(i * 0.01, 0.5);
        c.Repaint();
    }
    EXPECT_EQ(c.ReplotCount(), before);  // nothing drawn inside the burst
    Settle(80);
    const int replots = c.ReplotCount() - before;
    EXPECT_GE(replots, 1);
    EXPECT_LE(replots, 2);

    const int now = c.ReplotCount();
    c.RepaintNow();
    EXPECT_EQ(c.ReplotCount(), now + 1);
}

TEST(ChartWidget, UserZoomFreezesTheAxesUntilTheViewIsReset)
{
    TChart c;
    c.show();
    c.SetValueAxisRange(-10, 10);
    c.SetTimeAxisMax(50);
    for (int i = 0; i < 5000; ++i)
        c.AddPoint(i * 0.01, i == 4000 ? 25.0 : 1.0);
    EXPECT_FALSE(c.UserView());

    // A wheel or drag ends up as a range change the chart did not make.
    c.Plot()->xAxis->setRange(10, 20);
    EXPECT_TRUE(c.UserView());
    c.SetTimeAxisMax(80);
    c.SetTimeAxisStartOffset(-20);
    EXPECT_EQ(c.Plot()->xAxis->range().lower, 10);
    EXPECT_EQ(c.Plot()->xAxis->range().upper, 20);
    EXPECT_EQ(c.TimeAxisMax(), 80);

    c.FitAll();
    EXPECT_TRUE(c.UserView());
    EXPECT_LE(c.Plot()->xAxis->range().lower, 0);
    EXPECT_GE(c.Plot()->xAxis->range().upper, 80);
    EXPECT_GE(c.Plot()->yAxis->range().upper, 25);  // the spike beyond full scale is in view
    EXPECT_LE(c.Plot()->yAxis->range().lower, -10);

    c.ResetView();
    EXPECT_FALSE(c.UserView());
    c.RepaintNow();
    EXPECT_EQ(c.Plot()->xAxis->range().upper, 80);
    EXPECT_NEAR(AxisStartPixel(c), c.Plot()->axisRect()->left() - 20, 0.5);

    // Clearing the trace (Reset, Exit, a new chart view) also returns to the program's axes.
    c.Plot()->xAxis->setRange(1, 2);
    c.ClearSeries();
    EXPECT_FALSE(c.UserView());
}

TEST(ChartWidget, ToolbarModesAndCursor)
{
    TChart c;
    TTeeCommander bar(&c);
    c.show();
    c.SetValueAxisRange(-20, 20);
    c.SetValueAxisTitle("kV/m");
    c.SetTimeAxisMax(1);
    for (int i = 0; i < 100; ++i)
        c.AddPoint(i * 0.01, i * 0.1);
    c.RepaintNow();

    bar.ZoomButton->trigger();
    EXPECT_EQ(c.MouseMode(), TChart::mmZoom);
    EXPECT_TRUE(c.Plot()->interactions().testFlag(QCP::iRangeZoom));
    bar.PanButton->trigger();
    EXPECT_EQ(c.MouseMode(), TChart::mmPan);
    EXPECT_FALSE(bar.ZoomButton->isChecked());
    EXPECT_TRUE(c.Plot()->interactions().testFlag(QCP::iRangeDrag));
    bar.PanButton->trigger();
    EXPECT_EQ(c.MouseMode(), TChart::mmNone);
    EXPECT_EQ(int(c.Plot()->interactions()), 0);

    bar.CursorButton->trigger();
    ASSERT_TRUE(c.CursorEnabled());
    const QPointF near50(c.Plot()->xAxis->coordToPixel(0.502), c.Plot()->yAxis->coordToPixel(3.0));
    c.MoveCursorTo(near50);
    EXPECT_EQ(c.CursorText(), "0.5 sek.   5kV/m");
    c.MoveCursorTo(QPointF(1, 1));  // outside the plot area
    EXPECT_EQ(c.CursorText(), "");
    bar.CursorButton->trigger();
    EXPECT_FALSE(c.CursorEnabled());
}

TEST(ChartWidget, ALongTraceKeepsItsEnvelopeAndSpikesOnScreen)
{
    // A quiet signal leaves a thin trace (stroked), a noisy one tall columns
    // (filled): both show the same envelope and the lone spike.
    for (const double noise : {0.3, 6.0}) {
        SCOPED_TRACE(testing::Message() << "noise " << noise);
        TChart c;
        c.show();
        c.SetValueAxisRange(-20, 20);
        const int n = 300000;
        std::vector<double> y(n);
        for (int i = 0; i < n; ++i) {
            y[i] = 8 * std::sin(i * 2e-5) + noise * std::sin(i * 1.7);
            if (i == 123457) y[i] = 18;  // one sample, far out
            c.AddPoint(i * 0.01, y[i]);
        }
        c.SetTimeAxisMax((n - 1) * 0.01);
        c.RepaintNow();
        const QImage img = c.Plot()->toPixmap().toImage();
        QCPAxis* xa = c.Plot()->xAxis;
        QCPAxis* ya = c.Plot()->yAxis;
        const QRect area = c.Plot()->axisRect()->rect();

        auto darkRows = [&](int x, int& top, int& bottom) {
            top = INT_MAX;
            bottom = INT_MIN;
            for (int row = area.top() + 1; row < area.bottom(); ++row)
                if (qGray(img.pixel(x, row)) < 60) {
                    top = std::min(top, row);
                    bottom = std::max(bottom, row);
                }
        };
        // The ink of a pixel column reaches the extremes of the samples that fall in it.
        for (int x = area.left() + 5; x < area.right() - 5; x += 37) {
            double lo = 1e9, hi = -1e9;
            for (int i = 0; i < n; ++i) {
                const double px = xa->coordToPixel(i * 0.01);
                if (px >= x && px < x + 1) {
                    lo = std::min(lo, y[i]);
                    hi = std::max(hi, y[i]);
                }
            }
            if (lo > hi)
                continue;
            int top, bottom;
            darkRows(x, top, bottom);
            EXPECT_NEAR(top, ya->coordToPixel(hi), 2.0) << "column " << x;
            EXPECT_NEAR(bottom, ya->coordToPixel(lo), 2.0) << "column " << x;
        }
        const int spikeX = int(std::floor(xa->coordToPixel(123457 * 0.01)));
        int top, bottom;
        darkRows(spikeX, top, bottom);
        EXPECT_NEAR(top, ya->coordToPixel(18), 2.0);
    }
}

TEST(ChartWidget, OddPointsDrawWithoutHarm)
{
    TChart c;
    c.show();
    c.SetValueAxisRange(-5, 5);
    c.SetTimeAxisMax(100);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 20000; ++i)
        c.AddPoint((i * 7919) % 10000 * 0.01, std::sin(i * 0.01));  // times out of order
    c.AddPoint(50, nan, Qt::black, TTraceStore::NoStamp);
    c.AddPoint(51, inf, Qt::black, TTraceStore::NoStamp);
    c.AddPoint(nan, 1, Qt::black, TTraceStore::NoStamp);
    c.AddPoint(52, 1e300, Qt::black, TTraceStore::NoStamp);
    c.RepaintNow();
    c.FitAll();
    c.RepaintNow();
    c.SetCursorEnabled(true);
    c.MoveCursorTo(QPointF(c.Plot()->axisRect()->center()));
    EXPECT_FALSE(c.CursorText().isEmpty());
    TempDir dir;
    EXPECT_TRUE(c.SavePng(QString::fromStdString(dir.file("odd.png"))));
    EXPECT_EQ(c.PointCount(), 20004u);
    // Whatever came in goes out again, readable, with no exponent.
    EXPECT_TRUE(c.CsvText().endsWith("\r\n50;nan;\r\n51;inf;\r\nnan;1;\r\n52;1" + QString(300, '0') + ";\r\n"))
        << c.CsvText().right(400).toStdString();
}

TEST(ChartWidget, ColumnsSetIntoAnImageMatchThePaintersPixels)
{
    // The screen's buffers are images, and the decimated columns are set
    // straight into their pixels; a pixmap (like a printer or a PDF) gets
    // them from the painter. Both must show the same trace, pixel for pixel,
    // whatever it looks like and wherever it leaves the plot.
    struct TCase {
        const char* name;
        double (*y)(int i);
        QColor (*colour)(int i);
        double valueMin, valueMax;
        int startOffset;  // pixels; a negative one starts the axis left of the plot
        bool columns;     // tall enough to be drawn as columns
    };
    static const auto black = [](int) { return QColor(Qt::black); };
    static const auto noise = [](int i) { return 6.0 * std::sin(i * 1.7) + 3.0 * std::sin(i * 0.0003); };
    const TCase cases[] = {
        {"flat", [](int) { return 2.5; }, black, -5, 5, 0, false},
        {"noisy", noise, black, -10, 10, 0, true},
        {"spikes", [](int i) { return (i % 4999 == 0) ? 15.0 : 0.3 * std::sin(i * 1.3); }, black, -20, 20, 0, true},
        {"gaps", [](int i) { return (i / 20000) % 3 == 1 ? std::numeric_limits<double>::quiet_NaN() : noise(i); }, black, -10, 10, 0, true},
        {"beyond the plot", noise, black, -4, 3, -150, true},
        {"colours", noise,
         [](int i) { return i < 100000 ? QColor(Qt::black) : i < 200000 ? QColor(Qt::red) : QColor(0, 0, 255, 128); },
         -10, 10, 0, true},
    };
    for (const TCase& tc : cases) {
        SCOPED_TRACE(tc.name);
        TChart c;
        c.show();
        QElapsedTimer shown;
        shown.start();
        while (!(c.windowHandle() && c.windowHandle()->isExposed()) && shown.elapsed() < 5000)
            Settle(5);
        ASSERT_TRUE(c.windowHandle()->isExposed());
        c.SetValueAxisRange(tc.valueMin, tc.valueMax);
        const int n = 300000;
        for (int i = 0; i < n; ++i)
            c.AddPoint(i * 0.01, tc.y(i), tc.colour(i), TTraceStore::NoStamp);
        c.SetTimeAxisMax((n - 1) * 0.01);
        c.SetTimeAxisStartOffset(tc.startOffset);
        c.RepaintNow();
        EXPECT_EQ(c.DirectColumnFrames() > 0, tc.columns) << "on screen";

        QCustomPlot* plot = c.Plot();
        const QSize size = plot->size();
        const int before = c.DirectColumnFrames();
        QImage image(size, QImage::Format_RGB32);
        {
            QCPPainter painter(&image);
            plot->toPainter(&painter, size.width(), size.height());
        }
        EXPECT_EQ(c.DirectColumnFrames() - before, tc.columns ? 1 : 0) << "into the image";
        // A picture (like a printer or a PDF) records what the painter is
        // told, and its replay fills the bars through the painter.
        QPicture picture;
        {
            QCPPainter painter(&picture);
            plot->toPainter(&painter, size.width(), size.height());
        }
        EXPECT_EQ(c.DirectColumnFrames() - before, tc.columns ? 1 : 0) << "the picture goes through the painter";
        QImage painted(size, QImage::Format_RGB32);
        {
            QPainter painter(&painted);
            picture.play(&painter);
        }
        auto compare = [&painted](const QImage& other, const QRect& part, const char* what) {
            ASSERT_EQ(painted.size(), other.size()) << what;
            int differing = 0;
            QPoint first(-1, -1);
            for (int y = part.top(); y <= part.bottom(); ++y)
                for (int x = part.left(); x <= part.right(); ++x)
                    if (other.pixel(x, y) != painted.pixel(x, y) && differing++ == 0)
                        first = QPoint(x, y);
            EXPECT_EQ(differing, 0) << what << ", first at " << first.x() << "," << first.y();
        };
        // The plot area and a margin round it, where a bar that escaped its
        // clip would land. (Outside, the picture's replay sets the tick
        // labels' text a pixel apart now and then.)
        const QRect plotArea = plot->axisRect()->rect().adjusted(-3, -3, 3, 3);
        compare(image, plotArea, "image");
        compare(plot->grab().toImage().convertToFormat(QImage::Format_RGB32), plotArea, "grab");
        // Painted as a window's backing store is: the plot's paint event
        // draws into an image at the plot's place in it.
        const int rendered = c.DirectColumnFrames();
        const QPoint at = plot->mapTo(&c, QPoint(0, 0)) + QPoint(17, 9);
        QImage window(c.size() + QSize(30, 20), QImage::Format_RGB32);
        window.fill(Qt::white);
        c.render(&window, QPoint(17, 9));
        EXPECT_EQ(c.DirectColumnFrames() - rendered, tc.columns ? 1 : 0) << "into the window's image";
        compare(window.copy(QRect(at, size)), plotArea, "window");

        // And the trace is there: ink inside the plot area, none outside it
        // on the silver around it.
        const QRect area = plot->axisRect()->rect();
        int ink = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ink += qGray(image.pixel(x, y)) < 140;
        EXPECT_GT(ink, area.width()) << "the trace is drawn";
    }
}

TEST(ChartWidget, ARunningChartDrawsWhatAFreshOneDraws)
{
    // A running chart reuses what its last frames found (column extremes,
    // point coordinates); after any run of samples, axis moves and clears it
    // must draw what a chart given the same points at once draws.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::uniform_int_distribution<int> action(0, 9);
    std::vector<std::pair<double, double>> points;
    TChart running;
    running.show();
    running.SetValueAxisRange(-12, 12);
    double t = 0;
    auto add = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const double y = 6 * std::sin(t * 0.05) + noise(rng) + (rng() % 3000 == 0 ? 9 : 0);
            points.emplace_back(t, y);
            running.AddPoint(t, y, Qt::black, TTraceStore::NoStamp);
            t += 0.01;
        }
        running.SetTimeAxisMax(t);
    };
    auto render = [](TChart& c) {
        QImage image(c.Plot()->size(), QImage::Format_RGB32);
        QCPPainter painter(&image);
        c.Plot()->toPainter(&painter, image.width(), image.height());
        return image;
    };
    add(120000);
    for (int frame = 0; frame < 60; ++frame) {
        switch (action(rng)) {
        case 0:
            running.ClearSeries();
            points.clear();
            t = 0;
            add(40000);
            break;
        case 1:
            running.SetTimeAxisStartOffset(-int(rng() % 300));
            break;
        case 2:
            add(5000);
            break;
        default:
            add(1 + int(rng() % 3));
        }
        running.RepaintNow();
        if (frame % 12 != 11)
            continue;
        SCOPED_TRACE(testing::Message() << "frame " << frame);
        TChart fresh;
        fresh.show();
        fresh.SetValueAxisRange(-12, 12);
        for (const auto& [x, y] : points)
            fresh.AddPoint(x, y, Qt::black, TTraceStore::NoStamp);
        fresh.SetTimeAxisMax(t);
        fresh.SetTimeAxisStartOffset(running.TimeAxisStartOffset());
        EXPECT_TRUE(render(running) == render(fresh));
    }
}

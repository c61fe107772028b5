// The decay chart window: its design, the coloured measured line drawn as
// runs of one colour, the title built by "View &Chart", and printing.
#include "acquisition/TChart.h"
#include "core/MainState.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Paths.h"
#include "tests/support/SimulatedMonitor.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QPrinter>
#include <gtest/gtest.h>

namespace {

class CpmChartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        FormChartCPM = new TFormChartCPM();
        FormReadCPMFiles = new TFormReadCPMFiles();
        CPMSetup = new TCPMSetup();
        chart = FormChartCPM;
    }
    void TearDown() override
    {
        DeleteMonitorWindows();
        SetSettingsDirectoryOverride("");
    }
    // Whether a pixel near (x, y) in plot coordinates carries this colour
    // (blended with the silver background by smoothing, but nearer to it).
    static bool InkNear(const QImage& img, QCustomPlot* plot, double x, double y, const QColor& c)
    {
        const QColor silver(192, 192, 192);
        auto dist = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        };
        const int px = int(plot->xAxis->coordToPixel(x)), py = int(plot->yAxis->coordToPixel(y));
        for (int dy = -2; dy <= 2; ++dy) {
            const QColor p = img.pixelColor(px, py + dy);
            if (dist(p, silver) > 60 && dist(p, c) < dist(p, silver))
                return true;
        }
        return false;
    }

    TempDir dir;
    TFormChartCPM* chart = nullptr;
};

using S = TCpmSeries;
using C = TCpmColour;

} // namespace

TEST_F(CpmChartTest, DesignOfWindowAxesAndSeries)
{
    EXPECT_EQ(chart->windowTitle(), "Chart CHARGE-PLATE Monitor");
    EXPECT_EQ(chart->size(), QSize(1081, 735));
    EXPECT_FALSE(chart->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(chart->Chart1->isVisibleTo(chart));
    EXPECT_EQ(chart->BitBtn_Exit->text(), "E&xit");
    QCustomPlot* plot = chart->Chart1->Plot();
    EXPECT_EQ(plot->yAxis->range().lower, -1201);
    EXPECT_EQ(plot->yAxis->range().upper, 1200);
    EXPECT_EQ(plot->yAxis->label(), "Volt");
    EXPECT_EQ(plot->xAxis->label(), "Time Sek./10");
    EXPECT_EQ(plot->xAxis->tickLabelRotation(), 90);
    EXPECT_FALSE(plot->xAxis2->visible());
    EXPECT_FALSE(plot->yAxis2->visible());
    EXPECT_TRUE(plot->legend->visible()); // names the coloured lines

    const QStringList names = {"Measured  line", "Vstart Pos", "Vstop Pos", "Vstart Neg", "Vstop Neg", "Zero line"};
    const TCpmGraph* series[] = {chart->Series1, chart->Series2, chart->Series3,
                                 chart->Series4, chart->Series5, chart->Series6};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(series[i]->name(), names[i]);
        EXPECT_EQ(series[i]->PointCount(), 0);
        EXPECT_EQ(series[i]->scatterStyle().shape(), QCPScatterStyle::ssNone);
    }
    EXPECT_EQ(chart->Series6->pen().width(), 3);
    EXPECT_EQ(chart->Series1->pen().color(), QColor(255, 0, 0));
}

TEST_F(CpmChartTest, PointColoursAndRunsOfOneColour)
{
    chart->AddPoint(S::Measured, 0, 1200, C::Red);
    chart->AddPoint(S::Measured, 1, 120, C::Red);
    chart->AddPoint(S::Measured, 2, 800, C::Red);
    chart->AddPoint(S::Measured, 3, 1000, C::Blue);
    chart->AddPoint(S::Measured, 4, 990, C::Blue);
    chart->AddPoint(S::ZeroLine, 0, 0, C::Green);
    chart->AddPoint(S::VstartNeg, 0, -1000, C::Yellow);
    chart->AddPoint(S::VstartPos, 0, 1000, C::Black);

    TCpmGraph* line = chart->Series1;
    ASSERT_EQ(line->PointCount(), 5);
    EXPECT_EQ(line->PointColour(3), QColor(0, 0, 255));
    EXPECT_EQ(chart->Series6->PointColour(0), QColor(0, 128, 0));
    EXPECT_EQ(chart->Series4->PointColour(0), QColor(170, 130, 0)); // dark yellow, readable on paper
    EXPECT_EQ(chart->Series2->PointColour(0), QColor(0, 0, 0));
    // One segment per pair of points, in the colour of the point it runs to.
    const auto runs = line->Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[0].last, 2);
    EXPECT_EQ(QColor::fromRgb(runs[0].colour), QColor(255, 0, 0));
    EXPECT_EQ(runs[1].first, 2);
    EXPECT_EQ(runs[1].last, 4);
    EXPECT_EQ(QColor::fromRgb(runs[1].colour), QColor(0, 0, 255));
    // The measured line stays one plottable.
    EXPECT_EQ(chart->Chart1->Plot()->plottableCount(), 7); // six series and the main chart's hidden trace

    chart->ClearSeries();
    EXPECT_EQ(line->PointCount(), 0);
    EXPECT_TRUE(line->Runs().empty());
    EXPECT_EQ(chart->Chart1->PointCount(), 0u);
}

TEST_F(CpmChartTest, SegmentsAreDrawnInTheirPointsColours)
{
    for (int i = 0; i <= 20; ++i)
        chart->AddPoint(S::Measured, i, 600, C::Red);
    for (int i = 21; i <= 40; ++i)
        chart->AddPoint(S::Measured, i, -600, C::Blue);
    for (int i = 0; i <= 40; ++i)
        chart->AddPoint(S::ZeroLine, i, 0, C::Green);
    chart->show();
    chart->Chart1->setVisible(true);
    chart->FitTimeAxis();
    QCustomPlot* plot = chart->Chart1->Plot();
    EXPECT_EQ(plot->xAxis->range().upper, 40);
    const QImage img = plot->toPixmap(plot->width(), plot->height()).toImage();
    EXPECT_TRUE(InkNear(img, plot, 10, 600, QColor(255, 0, 0)));
    EXPECT_TRUE(InkNear(img, plot, 30, -600, QColor(0, 0, 255)));
    EXPECT_FALSE(InkNear(img, plot, 30, 600, QColor(255, 0, 0)));
    EXPECT_TRUE(InkNear(img, plot, 20, 0, QColor(0, 128, 0)));
}

TEST_F(CpmChartTest, LongRunsKeepTheirColoursUnderSampling)
{
    for (int i = 0; i < 200000; ++i)
        chart->AddPoint(S::Measured, i, i < 100000 ? 800 + (i % 7) : -800 - (i % 5), i < 100000 ? C::Red : C::Blue);
    EXPECT_EQ(chart->Series1->Runs().size(), 2u);
    chart->show();
    chart->Chart1->setVisible(true);
    chart->FitTimeAxis();
    QCustomPlot* plot = chart->Chart1->Plot();
    const QImage img = plot->toPixmap(plot->width(), plot->height()).toImage();
    EXPECT_TRUE(InkNear(img, plot, 50000, 803, QColor(255, 0, 0)));
    EXPECT_TRUE(InkNear(img, plot, 150000, -802, QColor(0, 0, 255)));
}

TEST_F(CpmChartTest, ViewChartBeforeAnyRunAndExit)
{
    CPMSetup->show();
    CPMSetup->BitBtnChartClick();
    EXPECT_FALSE(CPMSetup->isVisible());
    EXPECT_TRUE(chart->isVisible());
    EXPECT_TRUE(chart->Chart1->isVisible());
    EXPECT_EQ(chart->Title(), "\npos. decay 0.0 sec / neg. decay 0.0 sec / offset 0 V");
    EXPECT_EQ(chart->Series1->PointCount(), 0);

    chart->BitBtn_ExitClick();
    EXPECT_TRUE(CPMSetup->isVisible());
    EXPECT_FALSE(chart->isVisible());
    EXPECT_FALSE(chart->Chart1->isVisibleTo(chart));
}

TEST_F(CpmChartTest, PrintedInsideThePageMarginsStretched)
{
    EXPECT_EQ(TFormChartCPM::PrintArea(QRect(0, 0, 1000, 500)), QRect(30, 30, 960, 465));

    chart->AddPoint(S::Measured, 0, 1200, C::Red);
    chart->AddPoint(S::Measured, 1, 500, C::Blue);
    chart->show();
    chart->Chart1->setVisible(true);
    chart->FitTimeAxis();
    const QString pdf = QString::fromStdString(dir.file("chart.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    chart->PrintTo(&printer);
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
}

TEST_F(CpmChartTest, CursorFollowsTheMeasuredLine)
{
    chart->AddPoint(S::Measured, 0, 1200, C::Red);
    chart->AddPoint(S::Measured, 1, 640, C::Red);
    chart->AddPoint(S::Measured, 2, 580, C::Blue);
    for (int i = 0; i <= 3; ++i)
        chart->AddPoint(S::ZeroLine, i, 0, C::Green);
    chart->show();
    chart->Chart1->setVisible(true);
    chart->FitTimeAxis();
    QCustomPlot* plot = chart->Chart1->Plot();
    chart->TeeCommander1->CursorButton->trigger();
    EXPECT_TRUE(chart->Chart1->CursorEnabled());
    chart->Chart1->MoveCursorTo(QPointF(plot->xAxis->coordToPixel(1.1), plot->yAxis->coordToPixel(0)));
    EXPECT_TRUE(chart->Chart1->CursorText().contains("640")) << chart->Chart1->CursorText().toStdString();
}

// The chart view and the numeric display of the real windows, offscreen,
// reading the simulated converter of demo mode on a clock the test drives.
#include "acquisition/CAD_wandler.h"
#include "acquisition/DisplayLoop.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimConverter.h"
#include "tests/acquisition/demo_chart_fixture.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTimer>
#include "widgets/Fonts.h"

#include <QFontMetrics>
#include <QLabel>
#include <gtest/gtest.h>

namespace {

class ChartViewTest : public DemoChartTest {
protected:
    void Select(const char* item)
    {
        ASSERT_TRUE(MainForm->DeviceItems.contains(item)) << item;
        MainForm->DeviceItems[item]->trigger();
    }
    static QString Box(QPlainTextEdit* b) { return TMainForm::BoxText(b); }
    // Stops the running loop with the Stop button once n points are plotted.
    void StopAt(size_t n)
    {
        onSample = [this, n] {
            if (Points() >= n && MainForm->b_Stop_->isEnabled() && !MainForm->StopFlag)
                MainForm->b_Stop_->click();
        };
    }
};

TEST_F(ChartViewTest, StartStopResetExitWithTheSimulatedConverter)
{
    Select("N20kVm2"); // Talvis, E-Fieldmeter, ±20kV/m
    MainForm->Grafik1->trigger();
    TChart* c = MainForm->Chart1;
    EXPECT_TRUE(c->isVisible());
    EXPECT_TRUE(MainForm->GroupBox1->isVisible());
    EXPECT_FALSE(MainForm->ImageWallpaper->isVisible());
    EXPECT_FALSE(MainForm->View->menuAction()->isEnabled());
    EXPECT_FALSE(MainForm->Device->menuAction()->isEnabled());
    EXPECT_DOUBLE_EQ(c->ValueAxisMin(), -20.02);
    EXPECT_DOUBLE_EQ(c->ValueAxisMax(), 20.02);
    EXPECT_EQ(c->ValueAxisTitle(), "kV/m");
    EXPECT_EQ(c->TimeAxisTitle(), "Time sek.");
    EXPECT_EQ(c->Title(), "--Talvis--");
    EXPECT_EQ(Box(MainForm->Minwert), "0.00kV/m");
    EXPECT_EQ(Box(MainForm->Maxwert), "0.00kV/m");

    // 600 samples of at least 40 ms: past the simulator's first excursion at 18 s
    StopAt(600);
    MainForm->b_Start->click();
    ASSERT_EQ(Points(), 600u);
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
    EXPECT_TRUE(MainForm->StoppedFlag);
    EXPECT_TRUE(exitCodes.empty());
    // each converter read takes its two 20 ms waits: the axis is the clock,
    // and the label says the set period is not reached
    const QRegularExpression reached("^Sample time = 10 mSek \\((4\\d) mSek reached\\)$");
    const auto match = reached.match(MainForm->laSampleTime->text());
    ASSERT_TRUE(match.hasMatch()) << MainForm->laSampleTime->text().toStdString();
    // The longer text stays inside its panel, in a font small enough to show it whole.
    const QLabel* label = MainForm->laSampleTime;
    EXPECT_LE(label->geometry().right(), MainForm->GroupBox1->contentsRect().right());
    const QFont fitted = FontToFit(label->font(), label->text(), label->contentsRect().width());
    EXPECT_LE(QFontMetrics(fitted).horizontalAdvance(label->text()), label->contentsRect().width());
    // ... and no smaller than it has to be (a pixel-sized font shrinks in pixels).
    QFont larger = fitted;
    larger.setPixelSize(fitted.pixelSize() + 2);
    EXPECT_GT(QFontMetrics(larger).horizontalAdvance(label->text()), label->contentsRect().width());
    const double period = match.captured(1).toInt() * 0.001;
    EXPECT_TRUE(c->Title().startsWith("--Talvis--  Start : "));

    double hi = -1e9, lo = 1e9;
    EXPECT_EQ(c->PointX(0), 0);
    for (size_t i = 0; i < Points(); ++i) {
        if (i > 0) {
            EXPECT_GE(c->PointX(i) - c->PointX(i - 1), 0.040 - 1e-9) << i;
        }
        hi = std::max(hi, c->PointY(i));
        lo = std::min(lo, c->PointY(i));
    }
    EXPECT_GT(hi, 20.4) << "the excursion past full scale was plotted";
    EXPECT_DOUBLE_EQ(MainForm->PosMax, hi);
    EXPECT_DOUBLE_EQ(MainForm->NegMax, lo);
    EXPECT_EQ(Box(MainForm->Maxwert), "OVERFLOW !");
    EXPECT_EQ(Box(MainForm->Minwert), FormatChartValue(lo) + "kV/m");
    // a mark wider than the box must not wrap: later values would scroll out of sight
    EXPECT_EQ(MainForm->Maxwert->document()->defaultTextOption().wrapMode(), QTextOption::NoWrap);
    const double last = c->PointY(Points() - 1);
    if (std::fabs(last) <= 20.4) {
        EXPECT_EQ(Box(MainForm->Messwert), FormatChartValue(last) + "kV/m");
    }
    EXPECT_NEAR(c->PointX(599), 599 * period, 599 * 0.001);
    // span 0: the axis follows the trace, its start slid out by 10 px a second
    const double lastX = c->PointX(599);
    EXPECT_NEAR(MainForm->TimeX, lastX + 0.01, 1e-9);
    EXPECT_NEAR(c->TimeAxisMax(), MainForm->TimeX, 1e-9);
    EXPECT_EQ(c->TimeAxisStartOffset(), int(std::trunc(-MainForm->TimeX)) * 10);

    // Start again after a long pause: the trace goes on without a gap
    host.now += 3600000;
    StopAt(650);
    MainForm->b_Start->click();
    ASSERT_EQ(Points(), 650u);
    EXPECT_NEAR(c->PointX(600), lastX + 0.01, 1e-9);

    // Reset while stopped clears the trace
    MainForm->b_Reset->click();
    EXPECT_EQ(Points(), 0u);
    EXPECT_EQ(MainForm->TimeX, 0);
    EXPECT_FALSE(MainForm->StoppedFlag);
    EXPECT_DOUBLE_EQ(c->TimeAxisMax(), MainForm->TimeSpan);
    EXPECT_EQ(c->TimeAxisStartOffset(), 0);
    for (auto* b : {MainForm->Minwert, MainForm->Messwert, MainForm->Maxwert})
        EXPECT_EQ(Box(b), "0.00kV/m");
    EXPECT_EQ(MainForm->PosMax, -9999);
    EXPECT_EQ(MainForm->NegMax, 9999);

    // Exit returns to the wallpaper
    MainForm->b_Cancel->click();
    EXPECT_FALSE(c->isVisible());
    EXPECT_FALSE(MainForm->GroupBox1->isVisible());
    EXPECT_FALSE(MainForm->TeeCommander1->isVisible());
    EXPECT_FALSE(MainForm->image_Manufac_Logo->isVisible());
    EXPECT_TRUE(MainForm->ImageWallpaper->isVisible());
    EXPECT_TRUE(MainForm->View->menuAction()->isEnabled());
    EXPECT_TRUE(MainForm->Device->menuAction()->isEnabled());
    EXPECT_EQ(Box(MainForm->Messwert), "");
    EXPECT_EQ(Points(), 0u);
}

TEST_F(ChartViewTest, ResetWhileRunningKeepsTheTrace)
{
    Select("N200kVm3"); // Talvis ±200kV/m
    MainForm->Grafik1->trigger();
    bool reset = false;
    onSample = [&] {
        if (Points() == 100 && !reset) {
            reset = true;
            MainForm->b_Reset->click();
            EXPECT_EQ(Box(MainForm->Maxwert), "0.00kV/m");
            EXPECT_EQ(Box(MainForm->Minwert), "0.00kV/m");
        }
        if (Points() >= 110 && !MainForm->StopFlag)
            MainForm->b_Stop_->click();
    };
    MainForm->b_Start->click();
    EXPECT_EQ(Points(), 110u);
    // the extremes restarted with the samples after the reset
    double hi = -9999;
    for (size_t i = 100; i < Points(); ++i)
        if (MainForm->Chart1->PointY(i) > 0)
            hi = std::max(hi, MainForm->Chart1->PointY(i));
    EXPECT_DOUBLE_EQ(MainForm->PosMax, hi);
}

TEST_F(ChartViewTest, ResetWhileRunningAfterStopAndStartKeepsTheTrace)
{
    Select("N20kVm2");
    MainForm->Grafik1->trigger();
    StopAt(30);
    MainForm->b_Start->click();
    ASSERT_TRUE(MainForm->StoppedFlag);

    // Start again from the stopped state, Reset while this run goes on
    bool reset = false;
    size_t keptByReset = 0;
    onSample = [&] {
        if (Points() == 40 && !reset) {
            reset = true;
            MainForm->b_Reset->click();
            keptByReset = Points();
        }
        if (Points() >= 50 && !MainForm->StopFlag)
            MainForm->b_Stop_->click();
    };
    MainForm->b_Start->click();
    ASSERT_TRUE(reset);
    EXPECT_EQ(keptByReset, 40u);
    ASSERT_EQ(Points(), 50u);
    for (size_t i = 1; i < Points(); ++i)
        EXPECT_GT(MainForm->Chart1->PointX(i), MainForm->Chart1->PointX(i - 1)) << i;
    EXPECT_TRUE(MainForm->StoppedFlag);
}

TEST_F(ChartViewTest, StopClosesTheSerialPortWhateverTheDevice)
{
    PtyPeer peer;
    Select("N20kVm2"); // a converter range
    MainForm->Grafik1->trigger();
    FoCom->ComPort1->DeviceName(peer.SlavePath());
    FoCom->ComPort1->Open();
    ASSERT_TRUE(FoCom->ComPort1->Active());
    MainForm->b_Stop_->click();
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
}

TEST_F(ChartViewTest, DisplayExitClosesTheSerialPortOnlyForTheChargePlateMonitor)
{
    PtyPeer peer;
    TComPort* port = FoCom->ComPort1;
    port->DeviceName(peer.SlavePath());
    port->Open();
    for (const char* item : {"N20kVm2", "Plate_N400V"}) {
        Select(item);
        QTimer::singleShot(0, [&] { FormDisplay->bCancel->click(); });
        MainForm->Display->trigger();
        EXPECT_FALSE(FormDisplay->isVisible()) << item;
        EXPECT_EQ(port->Active(), MainForm->DeviceCode < 100) << item;
    }
}

TEST_F(ChartViewTest, ExitWhileRunningEndsTheLoop)
{
    Select("N20kVm2");
    MainForm->Grafik1->trigger();
    onSample = [&] {
        if (Points() >= 20 && MainForm->Chart1->isVisible())
            MainForm->b_Cancel->click();
    };
    MainForm->b_Start->click();
    EXPECT_EQ(Points(), 0u); // cleared by Exit, nothing added after it
    EXPECT_TRUE(MainForm->ImageWallpaper->isVisible());
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
}

TEST_F(ChartViewTest, MissingConverterShowsTheErrorAndEndsWithMinusOne)
{
    SimConverter::SetPresent(false);
    Select("N20kVm2");
    MainForm->Grafik1->trigger();
    MainForm->b_Start->click();
    EXPECT_TRUE(MainForm->Error_1->isVisible());
    EXPECT_EQ(MainForm->Error_1->toPlainText(),
              "Error occurred :\n\nUSB ADC device not found !\nProgram aborted");
    EXPECT_EQ(exitCodes, std::vector<int>{-1});
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{5000});
    EXPECT_EQ(Points(), 0u);
}

TEST_F(ChartViewTest, SerialInstrumentModeIsRefusedWithAMessage)
{
    Select("Plate_N400V");
    MainForm->Grafik1->trigger();
    EXPECT_DOUBLE_EQ(MainForm->Chart1->ValueAxisMin(), -401 * 1.001);
    // Code 100 (a serial instrument window's mode) has nothing to read here.
    MainForm->DeviceCode = 100;
    ScriptedPrompt prompt;
    MainForm->b_Start->click();
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].caption + "|" + prompt.shown()[0].text, QString("Info|") + NoCpmSourceMessage);
    EXPECT_TRUE(MainForm->b_Start->isEnabled());
    EXPECT_EQ(Points(), 0u);
    EXPECT_TRUE(exitCodes.empty());
}

TEST_F(ChartViewTest, DisplayWithoutConverterShowsItsErrorAndEndsWithMinusOne)
{
    SimConverter::SetPresent(false);
    Select("N20kVm2");
    bool shown = false;
    QTimer::singleShot(0, [&] {
        FormDisplay->b_Start->click();
        shown = FormDisplay->Error_1->isVisible();
        FormDisplay->bCancel->click();
    });
    MainForm->Display->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(exitCodes, std::vector<int>{-1});
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{5000});
}

TEST_F(ChartViewTest, DisplayWindowRunsItsOwnLoop)
{
    TFormDisplay* d = FormDisplay;
    // construction state
    EXPECT_EQ(d->LabelMesswert->text(), "");
    EXPECT_EQ(d->LabelPosMaximum_Value->text(), "0.0");
    EXPECT_EQ(d->StatusText(), "STOP");
    EXPECT_EQ(d->Memo_Status->geometry(), QRect(850, 328, 100, 25));

    Select("N20kVm2");
    MainForm->PosMax = 50;
    QString caption, opened;
    int dl = 0;
    int samples = 0;
    QTimer::singleShot(0, [&] {
        caption = d->windowTitle();
        opened = d->LabelMesswert->text();
        EXPECT_TRUE(d->isModal());
        EXPECT_EQ(MainForm->PosMax, -9999);
        onSample = [&] {
            // three message steps per sample
            if (++dl % 3 == 0)
                ++samples;
            if (samples == 100 && d->Memo_Status->x() == 725) {
                EXPECT_EQ(d->StatusText(), "RUN sampling time = 10 mSec.");
                EXPECT_FALSE(d->b_Start->isEnabled());
                d->b_Stop->click();
                EXPECT_EQ(d->Memo_Status->geometry(), QRect(1000, 328, 85, 25));
                EXPECT_EQ(d->StatusText(), "STOP");
            }
        };
        d->b_Start->click();
        onSample = nullptr;
        const QRegularExpression number("^-?\\d+\\.\\d\\dkV/m$");
        EXPECT_TRUE(number.match(d->LabelMesswert->text()).hasMatch()) << d->LabelMesswert->text().toStdString();
        EXPECT_EQ(d->LabelMesswert->font().pointSize(), DisplayFonts::Value);
        d->b_Reset->click();
        EXPECT_EQ(d->LabelPosMaximum_Value->text(), "0kV/m");
        EXPECT_EQ(d->LabelPosMaximum_Value->font().pointSize(), DisplayFonts::MaximumReset);
        EXPECT_EQ(MainForm->PosMax, -9999);
        d->bCancel->click();
    });
    MainForm->Display->trigger();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(caption, QString::fromUtf8("Ulmaro read out    Selected type =  Talvis  Range :  ±20kV/m"));
    EXPECT_EQ(opened, "0kV/m");
    EXPECT_EQ(d->GroupBoxSpannung->title(), "measurement reading");
    EXPECT_TRUE(MainForm->StopFlag);
    EXPECT_TRUE(MainForm->View->menuAction()->isEnabled());
    EXPECT_TRUE(d->b_Start->isEnabled());
    EXPECT_GE(samples, 100);
}

TEST_F(ChartViewTest, DisplayDrawsLongValuesSmallerInsteadOfCuttingDigits)
{
    QLabel* l = FormDisplay->LabelPosMaximum_Value;
    TFormDisplay::SetFontPoints(l, DisplayFonts::Maximum);
    const QString text = "-13.75kV/m";
    ASSERT_GT(QFontMetrics(l->font()).horizontalAdvance(text), l->contentsRect().width());
    const QFont fit = TFormDisplay::FontToFit(l->font(), text, l->contentsRect().width());
    EXPECT_LE(QFontMetrics(fit).horizontalAdvance(text), l->contentsRect().width());
    EXPECT_GT(fit.pointSizeF(), 20);
    EXPECT_EQ(TFormDisplay::FontToFit(l->font(), "1.00kV/m", 900).pointSize(), DisplayFonts::Maximum);
}

TEST_F(ChartViewTest, DisplayOverflowAndClosingByTheFrame)
{
    Select("N20kVm2");
    TFormDisplay* d = FormDisplay;
    // past the first positive excursion of the simulator (18 s)
    QTimer::singleShot(0, [&] {
        onSample = [&] {
            if (MainForm->PosMax > 20.4 && d->isVisible())
                d->close();
        };
        d->b_Start->click();
        onSample = nullptr;
    });
    MainForm->Display->trigger();
    EXPECT_FALSE(d->isVisible());
    EXPECT_TRUE(MainForm->StopFlag);
    EXPECT_EQ(d->LabelPosMaximum_Value->text(), "OVERFLOW !");
    EXPECT_EQ(d->LabelPosMaximum_Value->font().pointSize(), DisplayFonts::MaximumOverflow);

    // Reset after an overflow: both extremes back to their reset size and zero
    const int valueFont = d->LabelMesswert->font().pointSize();
    d->b_Reset->click();
    for (QLabel* l : {d->LabelPosMaximum_Value, d->LabelNegMaximum_Value}) {
        EXPECT_EQ(l->text(), "0kV/m");
        EXPECT_EQ(l->font().pointSize(), DisplayFonts::MaximumReset);
    }
    EXPECT_EQ(d->LabelMesswert->text(), "0kV/m");
    EXPECT_EQ(d->LabelMesswert->font().pointSize(), valueFont); // left as it was
    EXPECT_EQ(MainForm->PosMax, -9999);
    EXPECT_EQ(MainForm->NegMax, 9999);
}

} // namespace

// Number and date texts under the locale in force: under a comma locale no
// value box of the chart panel nor label of the display window shows a "."
// decimal, the texts they start with included; the files' dates carry four
// year digits whatever the short date format has.
#include "acquisition/NumberFormat.h"
#include "acquisition/TFormDisplay.h"
#include "core/TimeText.h"
#include "cpm/CpmFiles.h"
#include "ohmra/OhmraFiles.h"
#include "platform/CsvText.h"
#include "tests/acquisition/demo_chart_fixture.h"

#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Pinned {
    const char* name;
    QLocale locale;
    QChar decimal, other;
};

const Pinned Locales[] = {
    {"de_DE", QLocale(QLocale::German, QLocale::Germany), QLatin1Char(','), QLatin1Char('.')},
    {"en_US", QLocale(QLocale::English, QLocale::UnitedStates), QLatin1Char('.'), QLatin1Char(',')},
};

// The windows of demo mode, made under the locale of the case.
struct Bench : DemoChartTest {
    void TestBody() override {}
    using DemoChartTest::onSample;
    using DemoChartTest::Points;
};

// A number text: digits with the locale's separator and the unit, or a
// start text; never the other separator.
void ExpectNumberText(const QString& text, const Pinned& p, const char* where)
{
    EXPECT_FALSE(text.contains(p.other)) << where << ": " << text.toStdString();
    static const QRegularExpression number(R"(^-?\d+([.,]\d+)?kV/m$)");
    EXPECT_TRUE(number.match(text).hasMatch()) << where << ": " << text.toStdString();
}

TEST(NumberTexts, ChartPanelAndDisplayUseTheLocaleSeparatorFromTheStart)
{
    for (const Pinned& p : Locales) {
        SCOPED_TRACE(p.name);
        LocaleGuard pinned(p.locale);
        Bench b;
        // Construction state of the display window.
        EXPECT_EQ(FormDisplay->LabelPosMaximum_Value->text(), QString("0") + p.decimal + "0");
        EXPECT_EQ(FormDisplay->LabelNegMaximum_Value->text(), QString("0") + p.decimal + "0");

        MainForm->DeviceItems["N20kVm2"]->trigger(); // Talvis ±20kV/m
        MainForm->Grafik1->trigger();
        const auto box = [](QPlainTextEdit* e) { return TMainForm::BoxText(e); };
        EXPECT_EQ(box(MainForm->Minwert), QString("0") + p.decimal + "00kV/m");
        ExpectNumberText(box(MainForm->Maxwert), p, "Maxwert after View Chart");

        b.onSample = [&] {
            if (b.Points() >= 50 && !MainForm->StopFlag)
                MainForm->b_Stop_->click();
        };
        MainForm->b_Start->click();
        b.onSample = nullptr;
        ASSERT_GE(b.Points(), 50u);
        for (auto* e : {MainForm->Minwert, MainForm->Messwert, MainForm->Maxwert})
            if (box(e) != "OVERFLOW !")
                ExpectNumberText(box(e), p, "box while running");
        EXPECT_TRUE(box(MainForm->Messwert).contains(p.decimal));
        MainForm->b_Reset->click();
        for (auto* e : {MainForm->Minwert, MainForm->Messwert, MainForm->Maxwert})
            EXPECT_EQ(box(e), QString("0") + p.decimal + "00kV/m");
        MainForm->b_Cancel->click();

        // The display window's own loop.
        QString running;
        QTimer::singleShot(0, [&] {
            int steps = 0;
            b.onSample = [&] {
                if (++steps == 30)
                    FormDisplay->b_Stop->click();
            };
            FormDisplay->b_Start->click();
            b.onSample = nullptr;
            running = FormDisplay->LabelMesswert->text();
            FormDisplay->bCancel->click();
        });
        MainForm->Display->trigger();
        ExpectNumberText(running, p, "display value");
        EXPECT_TRUE(running.contains(p.decimal));
    }
}

TEST(NumberTexts, FileDatesHaveFourYearDigitsInTheShortFormat)
{
    const QDate d(2026, 3, 5);
    const struct {
        QLocale locale;
        QString date;
    } cases[] = {
        {QLocale(QLocale::German, QLocale::Germany), "05.03.2026"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "3/5/2026"},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), "05/03/2026"},
        {QLocale(QLocale::Chinese, QLocale::China), "2026/3/5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        LocaleGuard pinned(c.locale);
        EXPECT_EQ(FileDateText(d), c.date);
        EXPECT_TRUE(CpmResultLine(d, QTime(9, 30), "16", TCpmResult(), "").startsWith(c.date + ";"));
        const TOhmraFileStore store;
        EXPECT_EQ(store.InstrumentLine(QDateTime(d, QTime(9, 30))).section(';', 1, 1), c.date);
    }
    // Only a two-digit year outside quotes is widened.
    EXPECT_EQ(WithFourDigitYear("dd.MM.yy"), "dd.MM.yyyy");
    EXPECT_EQ(WithFourDigitYear("yyyy-MM-dd"), "yyyy-MM-dd");
    EXPECT_EQ(WithFourDigitYear("d 'yy' yy"), "d 'yy' yyyy");
    EXPECT_EQ(WithFourDigitYear("d.M.y"), "d.M.y");
}

// A locale with a minus sign of its own (U+2212) still gets "-" in the
// result file, where the sign would otherwise be lost as a "?".
TEST(NumberTexts, NegativeResultsKeepTheirSignInTheFile)
{
    for (const char* name : {"sv_SE", "fi_FI", "nb_NO", "de_DE"}) {
        SCOPED_TRACE(name);
        LocaleGuard pinned{QLocale(QString::fromLatin1(name))};
        TCpmResult r;
        r.OffsetVoltage = -123;
        r.NegDecayTime = 2.5;
        const std::string bytes = ToWindows1252(CpmResultLine(QDate(2026, 3, 5), QTime(9, 30), "16", r, ""));
        EXPECT_EQ(bytes.find('?'), std::string::npos) << bytes;
        EXPECT_NE(bytes.find(";-123,0"), std::string::npos) << bytes;
    }
}

} // namespace

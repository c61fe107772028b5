// What a user sees when a handler fails: the error's own text in a box (for
// the serial line with the instrument, port and remedy below it), and a
// program that goes on; and a second start that shows the running program.
#include "app/TApplication.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "cpm/TCPMSetup.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"
#include "serial/ComTypes.h"

#include <QGuiApplication>
#include <QStringList>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct Shown {
    QStringList messages;
    std::function<void(const QString&)> old = TApplication::ShowException;
    Shown() { TApplication::ShowException = [this](const QString& m) { messages << m; }; }
    ~Shown() { TApplication::ShowException = old; }
};

} // namespace

TEST(EscapedExceptions, ArePresentedAndTheDeliveryEnds)
{
    Shown shown;
    EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw EComError(2, "No such file or directory"); }));
    EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw EComError(0, "Timeout"); }));
    EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw std::range_error("Range check error"); }));
    EXPECT_EQ(shown.messages, (QStringList{"No such file or directory", "Timeout", "Range check error"}));
}

TEST(EscapedExceptions, AQuietAbortShowsNothing)
{
    Shown shown;
    EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw EComAbort(); }));
    EXPECT_TRUE(shown.messages.isEmpty());
}

TEST(EscapedExceptions, NormalDeliveriesPassTheirResult)
{
    Shown shown;
    EXPECT_TRUE(TApplication::Guarded([] { return true; }));
    EXPECT_FALSE(TApplication::Guarded([] { return false; }));
    EXPECT_TRUE(shown.messages.isEmpty());
}

TEST(ApplicationTitle, NamesTheProgramWithoutSuffixingEveryCaption)
{
    const QString oldName = QCoreApplication::applicationName();
    TApplication::SetTitle("Ulmaro read out");
    EXPECT_EQ(QCoreApplication::applicationName(), "Ulmaro read out");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Ulmaro read out");
    // No display name of its own was pinned (the platform would add " — "
    // and that name to every window caption): it still follows the name.
    QCoreApplication::setApplicationName("probe");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
    QCoreApplication::setApplicationName(oldName);
}

// --- with the program's windows -----------------------------------------

namespace {

class WithWindows : public ::testing::Test {
protected:
    WithWindows()
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro", "--demo", "gripo"};
        CreateAllWindows(3, args, true);
        MainForm->show();
    }
    ~WithWindows() override
    {
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
    TempDir dir;
};

} // namespace

// A serial failure keeps its own text as the first line and names, on a
// second, the instrument of the open window (or of the chart's mode), the
// port and what to check; other failures stay as they were.
TEST_F(WithWindows, SerialFailuresNameInstrumentPortAndRemedy)
{
    const struct {
        const char* name;
        QWidget* window;
        int deviceCode;
        const char* instrument;
    } cases[] = {
        {"Ohmra window", FormOhmra, 100, "Ohmra tera-ohmmeter"},
        {"calibration", FormOhmraCali, 100, "Ohmra tera-ohmmeter"},
        {"Gripo window", FormGripo, 100, "Gripo tester"},
        {"decay window", CPMSetup, 100, "Karvo charge plate monitor"},
        {"chart on the monitor", nullptr, 102, "Karvo charge plate monitor"},
        {"nothing open", nullptr, 1, "Serial instrument"},
    };
    MainForm->ComPortName = "ttyUSB3";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MainForm->DeviceCode = c.deviceCode;
        if (c.window)
            c.window->show();
        Shown shown;
        EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw EComError(0, "Timeout"); }));
        EXPECT_FALSE(TApplication::Guarded([]() -> bool { throw std::range_error("Range check error"); }));
        ASSERT_EQ(shown.messages.size(), 2);
        const QStringList lines = shown.messages[0].split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], "Timeout");
        EXPECT_TRUE(lines[1].startsWith(QString(c.instrument) + " on port ttyUSB3: ")) << lines[1].toStdString();
        EXPECT_TRUE(lines[1].contains("cable")) << lines[1].toStdString();
        EXPECT_TRUE(lines[1].contains(QString::fromUtf8("Setup \u2192 Com Port"))) << lines[1].toStdString();
        EXPECT_EQ(shown.messages[1], "Range check error");
        if (c.window)
            c.window->hide();
    }
    // No port chosen yet: the line says so instead of naming an empty one.
    MainForm->ComPortName.clear();
    Shown shown;
    TApplication::Guarded([]() -> bool { throw EComError(2, "No such file or directory"); });
    ASSERT_EQ(shown.messages.size(), 1);
    EXPECT_TRUE(shown.messages[0].startsWith("No such file or directory\nSerial instrument on port "));
}

// A second start asked to see the program: the main window comes back from
// the task bar, and an instrument window above it stays on top.
TEST_F(WithWindows, ShowRequestBringsTheMainWindowBack)
{
    MainForm->showMinimized();
    ASSERT_TRUE(WaitUntil([] { return MainForm->isMinimized(); }, 5000));
    ShowRunningProgram();
    EXPECT_TRUE(WaitUntil([] { return MainForm->isVisible() && !MainForm->isMinimized(); }, 5000));

    MainForm->setEnabled(false);
    FormOhmra->show();
    ShowRunningProgram();
    EXPECT_TRUE(MainForm->isVisible());
    EXPECT_TRUE(FormOhmra->isVisible());
    FormOhmra->hide();
    MainForm->setEnabled(true);
}

// The start-up probe: reports the first paint and closes the window after
// the given time, so an installed program can be started and ended by a
// script.
#include "app/StartupProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <gtest/gtest.h>

TEST(StartupProbe, QuitAfterOptionIsReadInBothSpellings)
{
    auto ms = [](std::initializer_list<const char*> words) {
        std::vector<const char*> v(words);
        return QuitAfterMs(int(v.size()), v.data());
    };
    EXPECT_EQ(ms({"ulmaro"}), -1);
    EXPECT_EQ(ms({"ulmaro", "--demo", "task", "--quit-after", "3000"}), 3000);
    EXPECT_EQ(ms({"ulmaro", "--quit-after=0"}), 0);
    EXPECT_EQ(ms({"ulmaro", "--quit-after"}), -1);           // value missing
    EXPECT_EQ(ms({"ulmaro", "--quit-after", "soon"}), -1);   // not a number
    EXPECT_EQ(ms({"ulmaro", "--quit-after", "-5"}), -1);
    EXPECT_EQ(ms({"ulmaro", "--quit-afterwards", "5"}), -1); // another word
    EXPECT_EQ(ms({"--quit-after=7", "x"}), -1);              // the program's own name is no option
}

TEST(StartupProbe, ClosesTheFirstWindowOnceItWasPainted)
{
    const char* argv[] = {"ulmaro", "--quit-after", "10"};
    InstallStartupProbe(qApp, 3, argv);
    QWidget window;
    window.setWindowTitle("First");
    window.resize(200, 100);
    window.show();
    QElapsedTimer t;
    t.start();
    while (window.isVisible() && t.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(window.isVisible());

    // Once done, the probe is gone: a later window stays open.
    QWidget later;
    later.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(later.isVisible());
}

TEST(StartupProbe, WithoutTheOptionNothingIsInstalled)
{
    const char* argv[] = {"ulmaro", "--demo"};
    const auto before = qApp->children().size();
    InstallStartupProbe(qApp, 2, argv);
    EXPECT_EQ(qApp->children().size(), before);
}

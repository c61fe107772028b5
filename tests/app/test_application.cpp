// What a user sees when a handler fails: the error's own text in a box, and a
// program that goes on.
#include "app/TApplication.h"
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

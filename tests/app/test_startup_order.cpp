// The program's start in two halves: the main window with its menus and
// start view first, the read-out and the other windows right after its first
// paint, or before the first input reaches any window, whichever comes
// first. However it goes, the user meets the windows as if all had been
// built at once.
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "tests/support/WholeProgramTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <functional>

namespace {

// Every named widget of every window, as a user or a GUI driver can tell
// them apart: class, visibility within its window, enabled, place, text.
QStringList Snapshot()
{
    QStringList out;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName().isEmpty())
            continue;
        QList<QWidget*> all = top->findChildren<QWidget*>();
        all.prepend(top);
        for (QWidget* w : all) {
            if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            QString text;
            if (auto* l = qobject_cast<QLabel*>(w))
                text = l->text();
            else if (auto* b = qobject_cast<QAbstractButton*>(w))
                text = b->text();
            else if (auto* e = qobject_cast<QPlainTextEdit*>(w))
                text = e->toPlainText();
            const QRect g = w == top ? QRect(QPoint(), w->size()) : w->geometry();
            out << QStringLiteral("%1/%2 %3 visible=%4 enabled=%5 %6,%7 %8x%9 [%10]")
                       .arg(top->objectName(), w->objectName(), QString::fromLatin1(w->metaObject()->className()))
                       .arg(w == top ? w->isVisible() : w->isVisibleTo(top))
                       .arg(w->isEnabled())
                       .arg(g.x())
                       .arg(g.y())
                       .arg(g.width())
                       .arg(g.height())
                       .arg(text);
        }
    }
    out.sort();
    return out;
}

// Long enough for a machine under load; the waits end as soon as they can.
constexpr int kPatience = 20000;

// Records whether every window existed when an input event reached the
// main window itself.
class InputWitness : public QObject {
public:
    bool seen = false, completeThen = false;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::MouseButtonPress || e->type() == QEvent::Wheel) {
            seen = true;
            completeThen = WindowsComplete();
        }
        return false;
    }
};

class StartupOrder : public WholeProgramTest {
protected:
    const char* args[1] = {"ulmaro"};
};

} // namespace

TEST_F(StartupOrder, EveryWayToCompleteEndsAsTheWholeBuild)
{
    CreateAllWindows(1, args, false);
    MainForm->show();
    ASSERT_TRUE(WaitUntil([] { return MainForm->isVisible(); }, kPatience));
    const QStringList whole = Snapshot();
    ASSERT_GT(whole.size(), 100);
    DestroyAllWindows();

    struct Way {
        const char* name;
        bool show;                                  // the main window is shown (and so painted)
        std::function<QEvent*()> input;             // sent to the main window before any paint; null: none
    };
    const std::vector<Way> ways = {
        {"first paint", true, nullptr},
        {"never painted", false, nullptr},
        {"key press first", false,
         [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_S, Qt::AltModifier); }},
        {"click first", false,
         [] {
             return new QMouseEvent(QEvent::MouseButtonPress, QPointF(20, 60), QPointF(20, 60), Qt::LeftButton,
                                    Qt::LeftButton, Qt::NoModifier);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        CreateMainWindow(1, args, false);
        // The split is real: the main window stands alone at first.
        EXPECT_EQ(MainForm->GroupBox1, nullptr);
        EXPECT_EQ(FormDisplay, nullptr);
        EXPECT_FALSE(WindowsComplete());
        if (way.show)
            MainForm->show();
        CompleteWindowsAfterFirstPaint();
        EXPECT_FALSE(WindowsComplete());
        if (way.input) {
            InputWitness witness;
            MainForm->installEventFilter(&witness);
            std::unique_ptr<QEvent> e(way.input());
            QApplication::sendEvent(MainForm, e.get());
            MainForm->removeEventFilter(&witness);
            EXPECT_TRUE(witness.seen);
            EXPECT_TRUE(witness.completeThen);
        }
        ASSERT_TRUE(WaitUntil(WindowsComplete, kPatience));
        if (!way.show)
            MainForm->show();
        ASSERT_TRUE(WaitUntil([] { return MainForm->isVisible(); }, kPatience));
        const QStringList split = Snapshot();
        EXPECT_EQ(split, whole);
        DestroyAllWindows();
    }
}

TEST_F(StartupOrder, WindowsTornDownBeforeCompletionStayDown)
{
    CreateMainWindow(1, args, false);
    CompleteWindowsAfterFirstPaint();
    DestroyAllWindows();
    // Past the moment a window that is never painted would be completed.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 600)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(FormDisplay, nullptr);

    // And a later start completes as usual.
    CreateMainWindow(1, args, false);
    MainForm->show();
    CompleteWindowsAfterFirstPaint();
    EXPECT_TRUE(WaitUntil(WindowsComplete, kPatience));
}

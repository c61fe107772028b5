#include "app/AppWindows.h"
#include "app/DemoBench.h"

#include "acquisition/TFormDisplay.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "ohmra/TFormOhmraFComment.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "core/MainLink.h"

#include "app/TApplication.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

namespace {

// The simulated instruments of --demo, for as long as the windows live.
std::unique_ptr<TDemoBench> g_demoBench;

void EnableMenu(QMenu* menu, bool on)
{
    if (menu)
        menu->menuAction()->setEnabled(on);
}

// The windows reach the main window and each other only through these hooks.
void ConnectMainLink()
{
    TMainLink& link = MainLink();
    link.ReturnToMain = [] {
        if (!MainForm)
            return;
        MainForm->setEnabled(true);
        MainForm->ImageWallpaper->setVisible(true);
        MainForm->raise();
        MainForm->activateWindow();
    };
    link.RaiseMain = [] {
        if (!MainForm)
            return;
        MainForm->raise();
        MainForm->activateWindow();
    };
    link.CloseDisplay = [] {
        if (FormDisplay && FormDisplay->isVisible())
            FormDisplay->FormClose();
    };
    link.DisplayClosed = [] {
        if (!MainForm)
            return;
        MainForm->View->menuAction()->setEnabled(true);
        MainForm->Device->menuAction()->setEnabled(true);
    };
    link.RepaintMain = [] {
        if (MainForm)
            MainForm->update();
    };
    link.SerialMenusEnabled = [](bool on, bool tester) {
        if (!MainForm)
            return;
        EnableMenu(MainForm->Karvo1, on);
        EnableMenu(MainForm->Ohmra1, on);
        if (tester)
            EnableMenu(MainForm->Gripo1, on);
    };
    link.PortNameChanged = [] {
        if (CPMSetup && MainState)
            CPMSetup->setWindowTitle(QStringLiteral("CHARGE-PLATE Monitor / Port : ") + MainState->ComPortName);
    };
}

} // namespace

QString SerialFailureHint()
{
    QString who;
    if ((FormOhmraCali && FormOhmraCali->isVisible()) || (FormOhmra && FormOhmra->isVisible()) ||
        (FormOhmraFComment && FormOhmraFComment->isVisible()))
        who = QStringLiteral("Ohmra tera-ohmmeter");
    else if (FormGripo && FormGripo->isVisible())
        who = QStringLiteral("Gripo tester");
    else if ((CPMSetup && CPMSetup->isVisible()) || (FormReadCPMFiles && FormReadCPMFiles->isVisible()) ||
             (MainState && MainState->DeviceCode > 100))
        who = QStringLiteral("Karvo charge plate monitor");
    else
        who = QStringLiteral("Serial instrument");
    QString port = MainState ? MainState->ComPortName : QString();
    if (port.isEmpty() && FoCom && FoCom->ComPort1)
        port = QString::fromStdString(FoCom->ComPort1->ShortDeviceName());
    if (port.isEmpty())
        port = QStringLiteral("(none chosen)");
    return who + QStringLiteral(" on port ") + port +
           QStringLiteral(": check the cable, that the instrument is switched on, and Setup \u2192 Com Port.");
}

void CreateMainWindow(int argc, const char* const* argv, bool demo)
{
    // Real or simulated backends are chosen here, once, before any window
    // looks for a port or a converter.
    g_demoBench.reset();
    if (demo) {
        g_demoBench = std::make_unique<TDemoBench>();
        g_demoBench->AddAllInstruments();
    }
    ConnectMainLink();
    TApplication::SerialFailureHint = SerialFailureHint;
    MainForm = new TMainForm(argc, argv, nullptr, TMainForm::TBuild::StartViewFirst);
}

void CompleteWindows()
{
    if (!MainForm || FormGripo)
        return;
    MainForm->BuildReadOut();
    FormDisplay = new TFormDisplay();
    FormHelp = new TFormHelp();
    FoCom = new TFoCom();
    CreateCpmInstances(*FoCom->ComPort1);
    CPMSetup = new TCPMSetup();
    Setup_COM = new TSetup_COM();
    FormChartCPM = new TFormChartCPM();
    FormReadCPMFiles = new TFormReadCPMFiles();
    FormOhmra = new TFormOhmra();
    FormOhmraCali = new TFormOhmraCali();
    FormOhmraFComment = new TFormOhmraFComment();
    FormGripo = new TFormGripo();
}

bool WindowsComplete() { return MainForm && FormGripo; }

void CreateAllWindows(int argc, const char* const* argv, bool demo)
{
    CreateMainWindow(argc, argv, demo);
    CompleteWindows();
}

namespace {

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
    case QEvent::InputMethod:
    case QEvent::Drop:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

// Completes the windows after the main window's first paint (queued behind
// it, so that the paint reaches the screen first), before the first input
// event or close request reaches any object, or after a short while if the
// window is never painted at all (started minimised, say): whichever comes
// first.
class TCompleteAfterFirstPaint final : public QObject {
public:
    explicit TCompleteAfterFirstPaint(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (IsInput(event->type()))
            CompleteWindowsNow();
        else if (event->type() == QEvent::Paint && watched == MainForm && !queued_) {
            queued_ = true;
            // Behind the paint and behind what was queued with it.
            QTimer::singleShot(0, this, [this] { QTimer::singleShot(0, this, [] { CompleteWindowsNow(); }); });
        }
        return false;
    }

private:
    bool queued_ = false;
};

QPointer<TCompleteAfterFirstPaint> g_completion;

} // namespace

void CompleteWindowsNow()
{
    if (g_completion) {
        QCoreApplication::instance()->removeEventFilter(g_completion);
        g_completion->deleteLater();
        g_completion = nullptr;
    }
    if (!MainForm || FormGripo)
        return;
    // A window that cannot be built ends the program, as at the start.
    if (!TApplication::Guarded([] {
            CompleteWindows();
            return true;
        }))
        QCoreApplication::exit(1);
}

void CompleteWindowsAfterFirstPaint()
{
    if (!MainForm || FormGripo || g_completion || !QCoreApplication::instance())
        return;
    g_completion = new TCompleteAfterFirstPaint(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(g_completion);
    QTimer::singleShot(250, g_completion, [] { CompleteWindowsNow(); });
}

template <class T>
static void Destroy(T*& p)
{
    delete p;
    p = nullptr;
}

void DestroyAllWindows()
{
    if (g_completion) {
        QCoreApplication::instance()->removeEventFilter(g_completion);
        delete g_completion.data();
    }
    Destroy(FormGripo);
    Destroy(FormOhmraFComment);
    Destroy(FormOhmraCali);
    Destroy(FormOhmra);
    Destroy(FormReadCPMFiles);
    Destroy(FormChartCPM);
    Destroy(Setup_COM);
    Destroy(CPMSetup);
    DestroyCpmInstances();
    Destroy(FoCom);
    Destroy(FormHelp);
    Destroy(FormDisplay);
    Destroy(MainForm);
    MainState = nullptr;
    MainLink() = TMainLink{};
    TApplication::SerialFailureHint = nullptr;
    g_demoBench.reset();
}

void ShowRunningProgram()
{
    if (!MainForm)
        return;
    if (MainForm->isMinimized())
        MainForm->showNormal();
    else
        MainForm->show();
    MainForm->raise();
    MainForm->activateWindow();
    // The main window is disabled while an instrument window or a modal box
    // is up; that one is where the user continues.
    QWidget* top = QApplication::activeModalWidget();
    if (!top && !MainForm->isEnabled())
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != MainForm && w->isVisible() && w->isWindow() && !w->isMinimized())
                top = w;
    if (top) {
        top->raise();
        top->activateWindow();
    }
}

void WatchShowRequests()
{
    const int fd = ShowRequestSocket();
    if (fd < 0 || !QCoreApplication::instance())
        return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        if (TakeShowRequests() > 0)
            ShowRunningProgram();
    });
}

#include "app/TMainForm.h"

#include "acquisition/TChart.h"
#include "app/TFormHelp.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Pictures.h"
#include "cpm/TCPMSetup.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "serial/TSetup_COM.h"
#include "widgets/ValueBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QTextOption>
#include <QSet>
#include <QStyle>

TMainForm* MainForm = nullptr;

namespace {

// Gives every entry of a menu without an access key the first letter or digit
// that no sibling uses yet, as the menus of this program always had; captions
// read from the settings file carry no '&' of their own.
void AssignAccessKeys(const QList<QAction*>& actions)
{
    QSet<QChar> used;
    for (QAction* a : actions) {
        const QString t = a->text();
        const int amp = t.indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < t.size())
            used.insert(t.at(amp + 1).toLower());
    }
    for (QAction* a : actions) {
        QString t = a->text();
        if (t.contains(QLatin1Char('&')) || a->isSeparator())
            continue;
        for (int i = 0; i < t.size(); ++i) {
            const QChar c = t.at(i).toLower();
            if (c.isLetterOrNumber() && c.unicode() < 128 && !used.contains(c)) {
                used.insert(c);
                t.insert(i, QLatin1Char('&'));
                a->setText(t);
                break;
            }
        }
    }
}

void AssignAccessKeysDeep(QMenu* menu)
{
    AssignAccessKeys(menu->actions());
    for (QAction* a : menu->actions())
        if (a->menu())
            AssignAccessKeysDeep(a->menu());
}

// Disabling the main window disables its menus' widgets too, and a menu
// copies its widget's state onto its entry in the menu bar; enabling the
// window again would then offer every menu, View included, whatever the
// program had decided for it. The entries keep the states the program gives
// them; a disabled window takes no clicks on its menu bar anyway.
class KeepMenuEntryStates final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return event->type() == QEvent::EnabledChange && qobject_cast<QMenu*>(watched) != nullptr;
    }
};

QLabel* CentredLabel(QWidget* parent, int x, int y, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignCenter);
    l->adjustSize();
    l->move(x, y);
    return l;
}

} // namespace

QString TMainForm::BoxText(const QPlainTextEdit* box) { return ValueBoxText(box); }

void TMainForm::SetBoxText(QPlainTextEdit* box, const QString& text) { SetValueBoxText(box, text); }

TMainForm::TMainForm(int argc, const char* const* argv, QWidget* parent, TBuild build) : QMainWindow(parent)
{
    MainForm = this;
    ::MainState = this;
    setObjectName("MainForm");
    resize(1006, 700);
    {
        QFont f("MS Sans Serif");
        f.setStyleHint(QFont::SansSerif);
        setFont(f);
    }

    BuildStartView();
    BuildMenus();

    // 1. Text fields and optional devices cleared (the fields start empty);
    ServiceMode = false;
    // 2. The calibration word on the command line shows the service entry.
    ServiceMode = CommandLineHasWord(argc, argv, "pravelint");
    // 3. Program settings.
    ReadProgramSettings(*this, TIniFile(SetupUlmaroIniPath()));
    // 4. Centred on the screen.
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect g = s->geometry();
        move((g.width() - width()) / 2, (g.height() - height()) / 2);
    }
    // 5. The value boxes start empty (see BuildReadOut).
    // 6.
    TimeSpan = Sampling_time_Display * 60.0 * 0.001;
    // 7.
    ResetExtremes();
    // 8. The read-out's controls start hidden (see BuildReadOut).
    RangeSelected = false;
    ManualEFieldFirmware = true;
    DeviceTitle = "0";
    DeviceCode = 0;
    RangeCode = 0;
    TimeX = 0;
    View->menuAction()->setEnabled(false);
    image_Manufac_Logo->setVisible(false);
    StoppedFlag = false;
    // 9. The Quenor and Gripo menus are built but not offered.
    AppTitle = "Ulmaro read out";
    Quenor1->menuAction()->setVisible(false);
    Gripo1->menuAction()->setVisible(false);
    // With the simulated bench the word "gripo" offers the tester's menu, so
    // its window can be tried without a tester.
    if (CommandLineHasWord(argc, argv, "--demo") && CommandLineHasWord(argc, argv, "gripo"))
        Gripo1->menuAction()->setVisible(true);
    // 10.
    setWindowTitle(AppTitle);
    Exit1->setText(Main_1);
    Device->setTitle(Main_2);
    View->setTitle(Main_3);
    Help->setText(Main_4);
    // 11.
    BuildOptionalDevices();
    AssignAccessKeys(MainMenue->actions());
    AssignAccessKeysDeep(Device);
    const QImage wall = BuiltInWallpaper();
    if (!wall.isNull())
        ImageWallpaper->setPixmap(QPixmap::fromImage(wall));
    LogoPicture = BuiltInLogo();
    if (!LogoPicture.isNull())
        image_Manufac_Logo->setPixmap(QPixmap::fromImage(LogoPicture));
    // 12.
    LoadBanner();
    // 13.
    Ohmra_CalMenu->setVisible(ServiceMode);
    // 14.
    OhmraFirstStart = true;

    auto* keep = new KeepMenuEntryStates(this);
    for (QMenu* m : MainMenue->findChildren<QMenu*>())
        m->installEventFilter(keep);

    if (build == TBuild::Whole)
        BuildReadOut();
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
    if (::MainState == this)
        ::MainState = nullptr;
}

void TMainForm::BuildStartView()
{
    auto* central = new QWidget(this);
    central->setObjectName("Central");
    central->setAutoFillBackground(true);
    QPalette pal = central->palette();
    pal.setColor(QPalette::Window, Qt::white);
    central->setPalette(pal);
    setCentralWidget(central);

    ImageWallpaper = new QLabel(central);
    ImageWallpaper->setGeometry(0, 32, 993, 614);
    ImageWallpaper->setAlignment(Qt::AlignCenter);

    image_Manufac_Logo = new QLabel(central);
    image_Manufac_Logo->setGeometry(0, 32, 337, 89);
    image_Manufac_Logo->setScaledContents(true);

    ImageWallpaper->setObjectName(QStringLiteral("ImageWallpaper"));
    image_Manufac_Logo->setObjectName(QStringLiteral("image_Manufac_Logo"));
}

void TMainForm::BuildReadOut()
{
    if (GroupBox1)
        return;
    QWidget* central = centralWidget();

    GroupBox1 = new QGroupBox(central);
    GroupBox1->setGeometry(5, 111, 328, 522);
    {
        QFont f("Arial");
        f.setPixelSize(21);
        GroupBox1->setFont(f);
    }
    LabelposMax = CentredLabel(GroupBox1, 56, 48, "pos. maximum");
    Maxwert = MakeValueBox(GroupBox1, 56, 87);
    LabelMess = CentredLabel(GroupBox1, 56, 144, "measurement");
    Messwert = MakeValueBox(GroupBox1, 56, 181);
    LabelnegMax = CentredLabel(GroupBox1, 56, 240, "neg. maximum");
    Minwert = MakeValueBox(GroupBox1, 56, 275, "minimal value");
    laSampleTime = new TFitLabel(GroupBox1);
    laSampleTime->setGeometry(40, 328, 280, 28);

    b_Start = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "&Start", GroupBox1);
    b_Start->setGeometry(24, 368, 121, 33);
    b_Stop_ = new QPushButton("S&top", GroupBox1);
    b_Stop_->setGeometry(184, 368, 113, 33);
    b_Reset = new QPushButton(style()->standardIcon(QStyle::SP_BrowserReload), "&Reset", GroupBox1);
    b_Reset->setGeometry(24, 424, 121, 33);
    b_Cancel = new QPushButton("E&xit", GroupBox1);
    b_Cancel->setGeometry(184, 424, 113, 33);

    Chart1 = new TChart(central);
    Chart1->setGeometry(336, 32, 649, 601);

    Error_1 = MakeErrorBox(Chart1, "Error occurred :\n\nUSB ADC device not found !\nProgram aborted");

    TeeCommander1 = new TTeeCommander(Chart1, central);
    TeeCommander1->setGeometry(0, 0, 1006, 33);

    // Scripts and GUI drivers find the controls by their member names.
#define MAIN_NAME(member) member->setObjectName(QStringLiteral(#member))
    MAIN_NAME(GroupBox1);
    MAIN_NAME(LabelposMax);
    MAIN_NAME(Maxwert);
    MAIN_NAME(LabelMess);
    MAIN_NAME(Messwert);
    MAIN_NAME(LabelnegMax);
    MAIN_NAME(Minwert);
    MAIN_NAME(laSampleTime);
    MAIN_NAME(b_Start);
    MAIN_NAME(b_Stop_);
    MAIN_NAME(b_Reset);
    MAIN_NAME(b_Cancel);
    MAIN_NAME(Chart1);
    MAIN_NAME(Error_1);
    MAIN_NAME(TeeCommander1);
#undef MAIN_NAME

    connect(b_Start, &QPushButton::clicked, this, [this] { b_StartClick(); });
    connect(b_Stop_, &QPushButton::clicked, this, [this] { b_Stop_Click(); });
    connect(b_Reset, &QPushButton::clicked, this, [this] { b_ResetClick(); });
    connect(b_Cancel, &QPushButton::clicked, this, [this] { b_CancelClick(); });

    // As the window starts: the value boxes empty, the time axis over the
    // display span, and the read-out hidden until a range is chosen.
    SetBoxText(Minwert, {});
    SetBoxText(Maxwert, {});
    SetBoxText(Messwert, {});
    Chart1->SetTimeAxisMax(TimeSpan);
    Chart1->SetTimeAxisStartOffset(0);
    Chart1->ClearSeries();
    TeeCommander1->setVisible(false);
    Chart1->setVisible(false);
    GroupBox1->setVisible(false);
}

void TMainForm::BuildMenus()
{
    MainMenue = menuBar();
    MainMenue->setObjectName("MainMenue");

    Exit1 = MainMenue->addAction("E&xit");
    Exit1->setObjectName("Exit1");
    Exit1->setShortcut(QKeySequence("Ctrl+X"));
    Exit1->setShortcutContext(Qt::ApplicationShortcut);
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    addAction(Exit1); // the shortcut works while the menu bar item is not focused

    Device = MainMenue->addMenu("&SelectDevice");
    Device->setObjectName("Device");
    Device->menuAction()->setObjectName("Device");
    View = MainMenue->addMenu("&View");
    View->setObjectName("View");
    View->menuAction()->setObjectName("View");
    Grafik1 = View->addAction("&Chart");
    Grafik1->setObjectName("Grafik1");
    connect(Grafik1, &QAction::triggered, this, [this] { Grafik1Click(); });
    Display = View->addAction("&Display");
    Display->setObjectName("Display");
    connect(Display, &QAction::triggered, this, [this] { DisplayClick(); });
    Setup = MainMenue->addMenu("Se&tup");
    Setup->setObjectName("Setup");
    Setup->menuAction()->setObjectName("Setup");
    Com1 = Setup->addAction("Com Port");
    Com1->setObjectName("Com1");
    Com1->setToolTip("Setup com port");
    Com1->setStatusTip("Setup com port");
    connect(Com1, &QAction::triggered, this, [this] { Com1Click(); });
    Help = MainMenue->addAction("?");
    Help->setObjectName("Help");
    connect(Help, &QAction::triggered, this, [this] { HelpClick(); });

    // Ctrl shortcuts of the menus open them.
    const auto opener = [this](QMenu* m, const char* keys) {
        auto* sc = new QShortcut(QKeySequence(keys), this);
        connect(sc, &QShortcut::activated, this, [this, m] {
            if (m->menuAction()->isEnabled() && m->menuAction()->isVisible())
                MainMenue->setActiveAction(m->menuAction());
        });
    };
    opener(Device, "Ctrl+S");
    opener(View, "Ctrl+V");
    opener(Setup, "Ctrl+T");

    for (const TMenuEntry& e : DeviceMenuTable()) {
        const QString item = QString::fromLatin1(e.Item);
        QMenu* parent = *e.Parent ? DeviceMenus.value(QString::fromLatin1(e.Parent)) : Device;
        const QString caption = QString::fromUtf8(e.Caption);
        if (e.kind == TMenuEntry::Submenu) {
            QMenu* m = parent->addMenu(caption);
            m->setObjectName(item);
            m->menuAction()->setObjectName(item);
            DeviceMenus.insert(item, m);
            DeviceItems.insert(item, m->menuAction());
            continue;
        }
        QAction* a = parent->addAction(caption);
        a->setObjectName(item);
        DeviceItems.insert(item, a);
        if (e.kind == TMenuEntry::Range) {
            const TMenuEntry* entry = &e;
            connect(a, &QAction::triggered, this, [this, entry] { RangeLeafClick(*entry); });
        }
    }
    Quenor1 = DeviceMenus.value("Quenor1");
    Karvo1 = DeviceMenus.value("Karvo1");
    Ohmra1 = DeviceMenus.value("Ohmra1");
    Gripo1 = DeviceMenus.value("Gripo1");
    Opt11 = DeviceMenus.value("Opt11");
    Opt111 = DeviceMenus.value("Opt111");
    Opt21 = DeviceMenus.value("Opt21");
    Opt211 = DeviceMenus.value("Opt211");
    Opt121 = DeviceItems.value("Opt121");
    Opt122 = DeviceItems.value("Opt122");
    Opt221 = DeviceItems.value("Opt221");
    Opt222 = DeviceItems.value("Opt222");
    CPM_Start = DeviceItems.value("CPM_Start");
    Ohmra_Start = DeviceItems.value("Ohmra_Start");
    Ohmra_CalMenu = DeviceItems.value("Ohmra_CalMenu");
    Start_Gripo = DeviceItems.value("Start_Gripo");
    connect(CPM_Start, &QAction::triggered, this, [this] { CPM_StartClick(); });
    connect(Ohmra_Start, &QAction::triggered, this, [this] { Ohmra_StartClick(); });
    connect(Ohmra_CalMenu, &QAction::triggered, this, [this] { Ohmra_CalMenuClick(); });
    connect(Start_Gripo, &QAction::triggered, this, [this] { Start_GripoClick(); });
}

void TMainForm::BuildOptionalDevices()
{
    struct Opt {
        QMenu* top;
        QMenu* sub;
        QAction* first;
        QAction* second;
        const QString& title;
        const QString& subTitle;
        const QString& unit1;
        const QString& unit2;
        double min1, max1, min2, max2;
    };
    const Opt opts[] = {
        {Opt11, Opt111, Opt121, Opt122, Text_Men_Opt_1, Text_Sub_Men_Opt_1, Text_Opt1_Unit, Text_Opt1_2_Unit,
         Value_Opt1_LeftAxisMin, Value_Opt1_LeftAxisMax, Value_Opt1_2_LeftAxisMin, Value_Opt1_2_LeftAxisMax},
        {Opt21, Opt211, Opt221, Opt222, Text_Men_Opt_2, Text_Sub_Men_Opt_2, Text_Opt2_Unit, Text_Opt2_2_Unit,
         Value_Opt2_LeftAxisMin, Value_Opt2_LeftAxisMax, Value_Opt2_2_LeftAxisMin, Value_Opt2_2_LeftAxisMax},
    };
    for (const Opt& o : opts) {
        o.top->menuAction()->setVisible(false);
        if (o.title.isEmpty() || o.subTitle.isEmpty())
            continue;
        o.top->menuAction()->setVisible(true);
        o.top->setTitle(o.title);
        o.sub->setTitle(o.subTitle);
        o.first->setText(QStringLiteral("±") + FormatGeneral(o.max1, 15) + o.unit1);
        o.second->setText(QStringLiteral("±") + FormatGeneral(o.max2, 15) + o.unit2);
        o.first->setVisible(!(o.min1 == 0 || o.max1 == 0));
        o.second->setVisible(!(o.min2 == 0 || o.max2 == 0));
    }
}

void TMainForm::LoadBanner()
{
    const QString path = Banner;
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    // A banner that is not a readable JPEG leaves the built-in logo in place.
    const QImage img = LoadJpegFile(path.toLocal8Bit().toStdString());
    if (img.isNull())
        return;
    LogoPicture = img;
    image_Manufac_Logo->setPixmap(QPixmap::fromImage(img));
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    // While a serial instrument window has the main window disabled, its
    // frame's close button does nothing (as a disabled window's never did):
    // ending here would tear the windows down under the instrument's session.
    // With no such window left on screen nothing would enable it again, so
    // the close goes through then.
    if (!isEnabled()) {
        for (const QWidget* w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible()) {
                e->ignore();
                return;
            }
    }
    // A running loop ends at its next look at the flag; then the program ends.
    StopFlag = true;
    e->accept();
    QApplication::quit();
}

// --- selection ---------------------------------------------------------------

void TMainForm::RangeLeafClick(const TMenuEntry& entry)
{
    if (entry.Title)
        DeviceTitle = QString::fromUtf8(entry.Title);
    else
        DeviceTitle = (entry.RangeCode == 70 || entry.RangeCode == 72) ? Text_Men_Opt_1 : Text_Men_Opt_2;
    DeviceCode = entry.DeviceCode;
    RangeCode = entry.RangeCode;
    View->menuAction()->setEnabled(true);
    ShowSelection();
}

void TMainForm::ShowSelection() { setWindowTitle(ShowSelectionCaption(*this)); }

void TMainForm::CPM_StartClick()
{
    ImageWallpaper->setVisible(false);
    DeviceCode = 100;
    RangeCode = 0;
    DeviceTitle = "Karvo (CHARGE PLATE Monitor)";
    CPMSetup->setWindowTitle("CHARGE-PLATE Monitor / Port : " + ComPortName);
    CPMSetup->MemoDisplay->clear();
    View->menuAction()->setEnabled(false);
    ShowSelection();
    ReopenPortForInstrument(false, false);
    CPMSetup->show();
    setEnabled(false);
}

void TMainForm::Ohmra_StartClick()
{
    ImageWallpaper->setVisible(false);
    DeviceCode = 100;
    RangeCode = 0;
    DeviceTitle = "Ohmra (TERA - Ohmmeter)";
    FormOhmra->setWindowTitle("Ohmra / Port : " + ComPortName);
    ShowSelection();
    FormOhmra->show();
    FormOhmra->MemoInfo->clear();
    FormOhmra->BitBtn_save->setEnabled(false);
    FormOhmra->BitBtn_start->setEnabled(false);
    FormOhmra->BitBtn_stop->setEnabled(false);
    setEnabled(false);
    View->menuAction()->setEnabled(false);
    ReopenPortForInstrument(true, true);
}

void TMainForm::Ohmra_CalMenuClick()
{
    // The caption still names the selection made before this entry.
    ShowSelection();
    setEnabled(false);
    View->menuAction()->setEnabled(false);
    ImageWallpaper->setVisible(false);
    DeviceCode = 100;
    RangeCode = 0;
    DeviceTitle = "Ohmra (TERA - Ohmmeter)";
    FormOhmraCali->setWindowTitle("Ohmra / Port : " + ComPortName + " Calibration mode");
    FormOhmraCali->show();
    FormOhmraCali->raise();
    FormOhmraCali->activateWindow();
    FormOhmraCali->BitBtn_exit->setFocus();
    ReopenPortForInstrument(true, true);
}

void TMainForm::Start_GripoClick()
{
    ImageWallpaper->setVisible(false);
    DeviceCode = 100;
    RangeCode = 0;
    DeviceTitle = "Gripo";
    FormGripo->setWindowTitle("Gripo / Port : " + ComPortName);
    ShowSelection();
    FormGripo->show();
    setEnabled(false);
    View->menuAction()->setEnabled(false);
    ReopenPortForInstrument(true, true);
}

void TMainForm::Exit1Click()
{
    // Ends the program with exit code 0; a running loop stops at its next look
    // at the flag, so the event loop can return.
    StopFlag = true;
    QCoreApplication::exit(0);
}

void TMainForm::HelpClick()
{
    FormHelp->FillHelp();
    FormHelp->setEnabled(true);
    FormHelp->show();
    Device->menuAction()->setEnabled(false);
    View->menuAction()->setEnabled(false);
    Setup->menuAction()->setEnabled(false);
}

void TMainForm::Com1Click()
{
    Setup_COM->show();
    Setup_COM->ComboBoxDeviceName->setVisible(true);
}

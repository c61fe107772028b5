#include "ohmra/TFormOhmra.h"

#include "core/MainLink.h"
#include "core/MainState.h"
#include "ohmra/C_Ohmra.h"
#include "ohmra/OhmraFiles.h"
#include "ohmra/TFormOhmraFComment.h"
#include "ohmra/TOhmraRadioGroup.h"
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"
#include "serial/TFoCom.h"
#include "widgets/Fonts.h"
#include "widgets/Placement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <stdexcept>

TFormOhmra* FormOhmra = nullptr;

namespace {
constexpr int SetupHeightTimerOff = 288;
constexpr int SetupHeightTimerOn = 457;
const QString SelectTimeText = QStringLiteral("         Select time");

// The record store lives with the comment window; a window made on its own
// (as in a test of this window alone) keeps one of its own.
TOhmraFileStore& Store()
{
    static TOhmraFileStore own;
    if (FormOhmraFComment)
        return *FormOhmraFComment;
    return own;
}

OhmraFilesStruct& Live() { return Store().OhmraFiles[0]; }

QString Hex2(int v) { return QString::fromStdString(NTOC(double(v & 0xFF), 16, 2)); }

QLabel* MakeLabel(const QString& text, QWidget* parent, int x, int y, int w, int h)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, h);
    return l;
}

double NumberOf(const QString& x) { return QLocale().toDouble(x); }
} // namespace

TFormOhmra::TFormOhmra(QWidget* parent, TCustomComPort* port) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Ohmra"));
    setFont(Arial(0, 10));
    setFixedSize(920, 650);
    CentreOnScreen(this, 20);
    if (!port && FoCom)
        port = FoCom->ComPort1;
    if (!port)
        throw std::logic_error("TFormOhmra needs the serial port");
    ohmra_ = std::make_unique<C_Ohmra>(*port);

    // --- readings ------------------------------------------------------------
    Ohmra_GroupBox_V = new QGroupBox(QStringLiteral("Resistor measured value"), this);
    Ohmra_GroupBox_V->setGeometry(16, 16, 640, 150);
    Label_Ohmra_Me = MakeLabel(QString(), Ohmra_GroupBox_V, 10, 24, 620, 116);
    Label_Ohmra_Me->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label_Ohmra_Me->setFont(Arial(0, 24, true));

    Ohmra_GroupBox_H = new QGroupBox(QStringLiteral("Humidity"), this);
    Ohmra_GroupBox_H->setGeometry(16, 180, 312, 80);
    Label_Ohmra_Hu = MakeLabel(QString(), Ohmra_GroupBox_H, 10, 22, 292, 50);
    Ohmra_GroupBox_T = new QGroupBox(QStringLiteral("Air temperature"), this);
    Ohmra_GroupBox_T->setGeometry(344, 180, 312, 80);
    Label_Ohmra_Te = MakeLabel(QString(), Ohmra_GroupBox_T, 10, 22, 292, 50);
    for (QLabel* l : {Label_Ohmra_Hu, Label_Ohmra_Te}) {
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setFont(Arial(0, 22, true));
    }

    GroupBoxInfo = new QGroupBox(QStringLiteral("Info"), this);
    GroupBoxInfo->setGeometry(16, 274, 640, 90);
    MemoInfo = new QPlainTextEdit(GroupBoxInfo);
    MemoInfo->setGeometry(8, 22, 624, 60);
    MemoInfo->setReadOnly(true);
    MemoInfo->setTabStopDistance(40);

    // --- stored-file range ----------------------------------------------------
    GroupBoxFiles = new QGroupBox(QStringLiteral("Input range"), this);
    GroupBoxFiles->setGeometry(16, 378, 640, 90);
    Label1 = MakeLabel(QStringLiteral("File number from : "), GroupBoxFiles, 14, 36, 140, 24);
    MaskEdit_start_fn = new QLineEdit(GroupBoxFiles);
    MaskEdit_start_fn->setGeometry(156, 34, 44, 28);
    Label2 = MakeLabel(QStringLiteral("to"), GroupBoxFiles, 212, 36, 24, 24);
    MaskEdit_end_fn = new QLineEdit(GroupBoxFiles);
    MaskEdit_end_fn->setGeometry(240, 34, 44, 28);
    for (QLineEdit* e : {MaskEdit_start_fn, MaskEdit_end_fn}) {
        e->setInputMask(QStringLiteral("00"));
        e->setText(QStringLiteral("1"));
    }
    BitBtn_OK_FileNo = new QPushButton(QStringLiteral("OK"), GroupBoxFiles);
    BitBtn_OK_FileNo->setGeometry(304, 32, 90, 32);
    LabelReadFNo = MakeLabel(QStringLiteral("Read No. : "), GroupBoxFiles, 420, 36, 90, 24);
    LabelFNo = MakeLabel(QString(), GroupBoxFiles, 512, 36, 60, 24);
    GroupBoxFiles->hide();

    // --- settings -------------------------------------------------------------
    GroupBox_Ohmra_Setup = new QGroupBox(QStringLiteral("Setup"), this);
    GroupBox_Ohmra_Setup->setGeometry(672, 16, 232, SetupHeightTimerOff);
    RadioGroup_Ohmra_VM = new TOhmraRadioGroup(
        QStringLiteral("Voltage mode"), {QStringLiteral("Auto"), QStringLiteral("10V"), QStringLiteral("100V")},
        GroupBox_Ohmra_Setup);
    RadioGroup_Ohmra_VM->setGeometry(12, 24, 208, 92);
    RadioGroup_Ohmra_DM = new TOhmraRadioGroup(QStringLiteral("Display Mode"),
                                               {QStringLiteral("Expo"), QStringLiteral("Techn")}, GroupBox_Ohmra_Setup);
    RadioGroup_Ohmra_DM->setGeometry(12, 122, 208, 72);
    RadioGroup_Ohmra_TI = new TOhmraRadioGroup(QStringLiteral("Timer"), {QStringLiteral("OFF"), QStringLiteral("ON")},
                                               GroupBox_Ohmra_Setup);
    RadioGroup_Ohmra_TI->setGeometry(12, 200, 208, 72);
    RadioGroup_Ohmra_TiMo = new TOhmraRadioGroup(
        QStringLiteral("Timer mode"), {QStringLiteral("Lapse"), QStringLiteral("Average")}, GroupBox_Ohmra_Setup);
    RadioGroup_Ohmra_TiMo->setGeometry(12, 284, 208, 72);
    RadioGroup_Ohmra_TiMo->hide();
    ComboBox_Ohmra_Time = new QComboBox(GroupBox_Ohmra_Setup);
    ComboBox_Ohmra_Time->setGeometry(12, 374, 208, 30);
    QStringList times;
    for (int s = 1; s <= 10; ++s)
        times << QStringLiteral("%1 sec").arg(s);
    for (int s : {15, 20, 30, 40, 50, 60, 70, 80, 90, 100, 120, 180, 240})
        times << QStringLiteral("%1 sec").arg(s);
    ComboBox_Ohmra_Time->addItems(times);
    ComboBox_Ohmra_Time->setPlaceholderText(SelectTimeText);
    ComboBox_Ohmra_Time->setCurrentIndex(-1);
    ComboBox_Ohmra_Time->hide();
    RadioGroup_Ohmra_TiMo->SetItemIndex(0);
    RadioGroup_Ohmra_TI->SetItemIndex(0);
    RadioGroup_Ohmra_DM->SetItemIndex(1);
    RadioGroup_Ohmra_VM->SetItemIndex(0);

    // --- buttons --------------------------------------------------------------
    auto button = [this](const QString& caption, const QString& hint) {
        auto* b = new QPushButton(caption, this);
        b->setToolTip(hint);
        return b;
    };
    BitBtn_init = button(QStringLiteral("&Init"), QStringLiteral("Init Ohmra and read info"));
    BitBtn_start = button(QStringLiteral("Sta&rt"), QStringLiteral("Start a single measurement"));
    BitBtn_stop = button(QStringLiteral("B&reak"), QStringLiteral("Stop measurement"));
    BitBtn_save = button(QStringLiteral("&Save"), QStringLiteral("Save measurement data to file"));
    BitBtn_readFile = button(QStringLiteral("Read &File"), QStringLiteral("Read data files from Ohmra"));
    BitBtn_reset = button(QStringLiteral("&Reset"), QStringLiteral("Reset Ohmra"));
    BitBtn_exit = button(QStringLiteral("E&xit"), QStringLiteral("Exit and go to the main menu"));
    int x = 17;
    for (QPushButton* b : {BitBtn_init, BitBtn_start, BitBtn_stop, BitBtn_save, BitBtn_readFile, BitBtn_reset,
                           BitBtn_exit}) {
        b->setGeometry(x, 592, 118, 40);
        x += 128;
    }

    // --- comment entry ----------------------------------------------------------
    GroupBox_Input_Comment = new QGroupBox(QStringLiteral("Input comment"), this);
    GroupBox_Input_Comment->setGeometry(280, 320, 360, 120);
    GroupBox_Input_Comment->setAutoFillBackground(true);
    Edit_Comment = new QLineEdit(GroupBox_Input_Comment);
    Edit_Comment->setGeometry(12, 30, 336, 28);
    BitBtnOK = new QPushButton(QStringLiteral("&OK"), GroupBox_Input_Comment);
    BitBtnOK->setGeometry(12, 72, 120, 34);
    BitBtnCancel = new QPushButton(QStringLiteral("&Cancel"), GroupBox_Input_Comment);
    BitBtnCancel->setGeometry(228, 72, 120, 34);
    GroupBox_Input_Comment->hide();


    connect(BitBtn_init, &QPushButton::clicked, this, [this] { BitBtn_initClick(); });
    connect(BitBtn_start, &QPushButton::clicked, this, [this] { BitBtn_startClick(); });
    connect(BitBtn_stop, &QPushButton::clicked, this, [this] { BitBtn_stopClick(); });
    connect(BitBtn_save, &QPushButton::clicked, this, [this] { BitBtn_saveClick(); });
    connect(BitBtn_readFile, &QPushButton::clicked, this, [this] { BitBtn_readFileClick(); });
    connect(BitBtn_reset, &QPushButton::clicked, this, [this] { BitBtn_resetClick(); });
    connect(BitBtn_exit, &QPushButton::clicked, this, [this] { BitBtn_exitClick(); });
    connect(BitBtn_OK_FileNo, &QPushButton::clicked, this, [this] { BitBtn_OK_FileNoClick(); });
    connect(MaskEdit_start_fn, &QLineEdit::textChanged, this, [this] { MaskEdit_fnChange(); });
    connect(MaskEdit_end_fn, &QLineEdit::textChanged, this, [this] { MaskEdit_fnChange(); });
    connect(BitBtnOK, &QPushButton::clicked, this, [this] { BitBtnOKClick(); });
    connect(BitBtnCancel, &QPushButton::clicked, this, [this] { BitBtnCancelClick(); });
    connect(Edit_Comment, &QLineEdit::returnPressed, this, [this] { Edit1KeyPress(); });
    RadioGroup_Ohmra_TI->OnClick = [this] { RadioGroup_Ohmra_TIClick(); };

    // Controls answer to their member names, so that they can be found the
    // way the handlers name them.
    setObjectName(QStringLiteral("FormOhmra"));
#define OHMRA_NAME(member) member->setObjectName(QStringLiteral(#member))
    OHMRA_NAME(Ohmra_GroupBox_V);
    OHMRA_NAME(Label_Ohmra_Me);
    OHMRA_NAME(Ohmra_GroupBox_H);
    OHMRA_NAME(Label_Ohmra_Hu);
    OHMRA_NAME(Ohmra_GroupBox_T);
    OHMRA_NAME(Label_Ohmra_Te);
    OHMRA_NAME(BitBtn_start);
    OHMRA_NAME(BitBtn_stop);
    OHMRA_NAME(BitBtn_readFile);
    OHMRA_NAME(BitBtn_save);
    OHMRA_NAME(BitBtn_reset);
    OHMRA_NAME(BitBtn_init);
    OHMRA_NAME(BitBtn_exit);
    OHMRA_NAME(GroupBox_Ohmra_Setup);
    OHMRA_NAME(RadioGroup_Ohmra_VM);
    OHMRA_NAME(RadioGroup_Ohmra_DM);
    OHMRA_NAME(RadioGroup_Ohmra_TI);
    OHMRA_NAME(RadioGroup_Ohmra_TiMo);
    OHMRA_NAME(ComboBox_Ohmra_Time);
    OHMRA_NAME(GroupBoxInfo);
    OHMRA_NAME(MemoInfo);
    OHMRA_NAME(GroupBox_Input_Comment);
    OHMRA_NAME(Edit_Comment);
    OHMRA_NAME(BitBtnOK);
    OHMRA_NAME(BitBtnCancel);
    OHMRA_NAME(GroupBoxFiles);
    OHMRA_NAME(Label1);
    OHMRA_NAME(MaskEdit_start_fn);
    OHMRA_NAME(Label2);
    OHMRA_NAME(MaskEdit_end_fn);
    OHMRA_NAME(BitBtn_OK_FileNo);
    OHMRA_NAME(LabelReadFNo);
    OHMRA_NAME(LabelFNo);
#undef OHMRA_NAME
    SetState(TOhmraState::NotInitialised);
}

TFormOhmra::~TFormOhmra() = default;

void TFormOhmra::SetMeFont(int points) { SetFontPoints(Label_Ohmra_Me, points); }

void TFormOhmra::SetState(TOhmraState state)
{
    state_ = state;
    using C = TOhmraControl;
    const std::pair<QWidget*, C> controls[] = {
        {BitBtn_init, C::Init},         {BitBtn_start, C::Start},        {BitBtn_stop, C::Break},
        {BitBtn_save, C::Save},         {BitBtn_readFile, C::ReadFile},  {BitBtn_reset, C::Reset},
        {BitBtn_exit, C::Exit},         {Edit_Comment, C::CommentEntry}, {BitBtnOK, C::CommentEntry},
        {BitBtnCancel, C::CommentEntry}, {MaskEdit_start_fn, C::RangeEntry}, {MaskEdit_end_fn, C::RangeEntry},
    };
    for (const auto& [w, c] : controls)
        w->setEnabled(Allowed(c));
    GroupBox_Input_Comment->setEnabled(Allowed(C::CommentEntry));
    GroupBox_Input_Comment->setVisible(state == TOhmraState::CommentEntry);
    // The range's OK follows the numbers typed; outside the entry it is off.
    BitBtn_OK_FileNo->setEnabled(Allowed(C::RangeEntry) && rangeValid_);
    GroupBoxFiles->setVisible(state == TOhmraState::RangeEntry || state == TOhmraState::ReadingFiles);
}

void TFormOhmra::RecoverAfterError(bool initialised)
{
    Label_Ohmra_Me->clear();
    Label_Ohmra_Hu->clear();
    Label_Ohmra_Te->clear();
    Ohmra_GroupBox_V->setTitle(QStringLiteral("Resistor measured value"));
    LabelReadFNo->hide();
    LabelFNo->hide();
    SetState(initialised ? TOhmraState::Ready : TOhmraState::InitFailed);
}

void TFormOhmra::RadioGroup_Ohmra_TIClick()
{
    const bool on = RadioGroup_Ohmra_TI->ItemIndex() == 1;
    RadioGroup_Ohmra_TiMo->setVisible(on);
    ComboBox_Ohmra_Time->setVisible(on);
    GroupBox_Ohmra_Setup->resize(GroupBox_Ohmra_Setup->width(), on ? SetupHeightTimerOn : SetupHeightTimerOff);
}

void TFormOhmra::BitBtn_initClick()
{
    if (!Allowed(TOhmraControl::Init))
        return;
    const unsigned session = session_;
    Label_Ohmra_Me->clear();
    MemoInfo->clear();
    MemoInfo->appendPlainText(QStringLiteral("\t\t\t     Initialize Ohmra, please wait...."));
    SetState(TOhmraState::Initialising);
    Label_Ohmra_Te->clear();
    Label_Ohmra_Hu->clear();
    try {
        Host().ProcessMessages();
        if (session != session_)
            return;
        C_Ohmra& o = *ohmra_;
        o.Measure("C004");
        Host().Sleep(300);
        o.Reset();
        Host().Sleep(3500);
        QString date, version, serial;
        // A meter that does not identify itself leaves only Exit; the memo
        // keeps its first line.
        if (o.ReadInfo(date, version, serial) != 0) {
            SetState(TOhmraState::InitFailed);
            return;
        }
        SetMeFont(24);
        MemoInfo->clear();
        MemoInfo->appendPlainText(QStringLiteral("    SW version : ") + version + QStringLiteral("   /  Serial number : ") +
                                  serial + QStringLiteral("   /  date of production : ") + date);
        Store().InfoSerial = serial;
        Store().InfoSwVersion = version;
        Store().InfoDate = date;
        // Ready only once everything is shown and stored: a click let in
        // before would act on a window still being set up.
        SetState(TOhmraState::Ready);
    } catch (...) {
        if (session == session_)
            RecoverAfterError(false);
        throw;
    }
}

void TFormOhmra::BitBtn_startClick()
{
    if (!Allowed(TOhmraControl::Start))
        return;
    const unsigned session = session_;
    SetState(TOhmraState::Measuring);
    SetMeFont(24);
    Label_Ohmra_Me->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label_Ohmra_Me->setText(QStringLiteral("Start measurement, please wait...."));
    Label_Ohmra_Hu->clear();
    Label_Ohmra_Te->clear();
    try {
        Host().ProcessMessages();
        if (session != session_)
            return;
        RunMeasurement(session);
    } catch (...) {
        if (session == session_)
            RecoverAfterError(true);
        throw;
    }
}

void TFormOhmra::RunMeasurement(unsigned session)
{
    const int d = RadioGroup_Ohmra_DM->ItemIndex();
    const int v = RadioGroup_Ohmra_VM->ItemIndex();
    const int t = RadioGroup_Ohmra_TI->ItemIndex();
    if (MainState && MainState->OhmraFirstStart) {
        LastVoltageMode = 3;
        MainState->OhmraFirstStart = false;
    }

    int m = 0;
    if (d == 0)
        m += kOhmraModeExpo;
    if (v == 0)
        m += kOhmraModeAutoVoltage;
    if (v == 1)
        m += kOhmraMode10V;
    int s = 0;
    if (t == 1) {
        m += kOhmraModeTimerOn;
        if (RadioGroup_Ohmra_TiMo->ItemIndex() == 1)
            m += kOhmraModeTimerAverage;
        const QString text = ComboBox_Ohmra_Time->currentIndex() >= 0 ? ComboBox_Ohmra_Time->currentText()
                                                                       : SelectTimeText;
        const QString number = text.section(QLatin1Char(' '), 0, 0);
        bool ok = false;
        s = number.toInt(&ok);
        if (!ok)
            throw std::runtime_error("'" + number.toStdString() + "' is not a valid integer value");
    }
    // The value font replaces the waiting text's once there is a value to show.
    auto show = [this](const QString& text) {
        SetMeFont(50);
        Label_Ohmra_Me->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Label_Ohmra_Me->setText(text);
    };

    QString command = QStringLiteral("C0") + Hex2(m);
    if (t == 1) {
        command += Hex2(s);
        Ohmra_GroupBox_V->setTitle(QStringLiteral("Remaining time"));
    }
    const QString plain = QStringLiteral("C0") + Hex2(m & 0x0F);
    const std::string cmd = command.toStdString();
    const std::string plainCmd = plain.toStdString();
    // After the countdown the meter holds the timed result; the timer
    // command would only report the seconds again, so the readings that are
    // shown and saved are taken with the plain command.
    const std::string finalCmd = plainCmd;

    C_Ohmra& o = *ohmra_;
    Host().Sleep(100);
    if (t == 1) {
        o.Measure(plainCmd);
        Host().Sleep(100);
    }
    if (v != LastVoltageMode) {
        if (t != 1)
            o.Measure(plainCmd);
        Host().Sleep(300);
        o.Reset();
        Host().Sleep(4000);
        LastVoltageMode = v;
    }

    // The countdown is over when the meter says so: a reading it did not
    // deliver says nothing about the seconds left, and a second that is
    // left is still part of the run.
    if (t == 1)
        SetState(TOhmraState::TimedMeasuring);
    bool timerDone = t != 1;
    // Break turns the state to Aborting; the loop sees it at its next check.
    while (state_ != TOhmraState::Aborting && !timerDone) {
        if (o.Measure(cmd) == 0) {
            const int r = o.Timer;
            if (r <= 0)
                timerDone = true;
            else if (r <= s)
                show(QString::number(r) + QStringLiteral(" Sec."));
        }
        if (!timerDone)
            Host().Sleep(800);
        Host().ProcessMessages();
        if (session != session_)
            return;
    }

    // A reading the meter did not deliver (no acknowledgement, noise, a
    // refused checksum) leaves the last reply's values in place; they must
    // not be shown and offered for saving as this measurement's. The live
    // record takes the measurement only once it is complete.
    bool failed = false;
    const bool aborted = state_ == TOhmraState::Aborting;
    if (!aborted) {
        if (t == 1)
            SetState(TOhmraState::Measuring);
        Ohmra_GroupBox_V->setTitle(QStringLiteral("Resistor measured value"));
        OhmraFilesStruct rec = Live();
        rec.TechnMode = 1;
        failed = o.Measure(finalCmd) != 0;
        QString u;
        const QString x = C_Ohmra::FormatResistance(o.Mantissa, o.Exponent, u);
        rec.Unit = QStringLiteral("Ohm");
        const bool out = (o.Status & kOhmraStatusOutOfRange) != 0;
        const bool high = (o.Status & kOhmraStatusHigh) != 0;
        if (out && high) {
            show(QStringLiteral("OVERFLOW"));
            rec.Value = 9999;
            rec.Unit.clear();
            rec.ExpoText = QStringLiteral("9999");
        } else if (out) {
            show(QStringLiteral("UNDERFLOW"));
            rec.Value = 0;
            rec.Unit.clear();
            rec.ExpoText = QStringLiteral("0");
        } else if (d == 1) {
            rec.TechnMode = 1;
            show(x + QLatin1Char(' ') + u);
        } else {
            rec.Value = NumberOf(x);
            rec.ExpoText = C_Ohmra::ExpoText(o.Mantissa, o.Exponent, 3);
            show(rec.ExpoText + QStringLiteral(" Ohm"));
            rec.TechnMode = 0;
        }

        failed = o.Measure(finalCmd) != 0 || failed;
        Label_Ohmra_Hu->setText(QString::number(o.Humidity) + QStringLiteral(" %r.F."));
        Label_Ohmra_Te->setText(QString::number(o.Temperature) + QStringLiteral(" \u00B0C"));
        rec.TechnUnit = u;
        if (o.Status & kOhmraStatusOutOfRange) {
            rec.TechnUnit.clear();
            rec.Value = (o.Status & kOhmraStatusHigh) ? 9999 : 0;
        } else {
            rec.Value = NumberOf(x);
        }
        rec.Humidity = o.Humidity;
        rec.Temperature = o.Temperature;
        rec.Timer = t == 1 ? s : 0;
        rec.AverageLapse = (o.Status & kOhmraStatusAverage) ? 'A' : 'L';
        if (!failed)
            Live() = rec;
    }

    if (aborted) {
        SetMeFont(40);
        Label_Ohmra_Me->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Label_Ohmra_Me->setText(QStringLiteral("Measurement aborted!"));
        Label_Ohmra_Hu->clear();
        Label_Ohmra_Te->clear();
    } else if (failed) {
        SetMeFont(40);
        Label_Ohmra_Me->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Label_Ohmra_Me->setText(QStringLiteral("Measurement failed!"));
        Label_Ohmra_Hu->clear();
        Label_Ohmra_Te->clear();
    }
    if (t == 1) {
        SetState(TOhmraState::Resetting);
        Host().Sleep(500);
        o.Reset();
        Host().Sleep(3500);
    }
    // Only a measurement shown as complete can be saved; an aborted or
    // failed one leaves nothing to save (the one before is no longer shown).
    SetState(!aborted && !failed ? TOhmraState::ReadyToSave : TOhmraState::Ready);
}

void TFormOhmra::BitBtn_stopClick()
{
    if (!Allowed(TOhmraControl::Break))
        return;
    const bool running = state_ == TOhmraState::Measuring || state_ == TOhmraState::TimedMeasuring;
    const TOhmraState before = state_;
    // The running Start notices at its next check; until then only Exit.
    if (running)
        SetState(TOhmraState::Aborting);
    std::string ignored;
    ohmra_->Transfer("C4", ignored, false);
    if (!running)
        SetState(before);
}

void TFormOhmra::BitBtn_resetClick()
{
    if (!Allowed(TOhmraControl::Reset))
        return;
    const unsigned session = session_;
    SetState(TOhmraState::Resetting);
    try {
        ohmra_->Reset();
        Host().Sleep(3500);
    } catch (...) {
        if (session == session_)
            RecoverAfterError(true);
        throw;
    }
    SetState(TOhmraState::Ready);
}

// The entry ends by the state: OK goes on to saving, Cancel back to ready.
void TFormOhmra::BitBtnOKClick()
{
    if (Allowed(TOhmraControl::CommentEntry))
        SetState(TOhmraState::Saving);
}
void TFormOhmra::BitBtnCancelClick()
{
    if (Allowed(TOhmraControl::CommentEntry))
        SetState(TOhmraState::Ready);
}
void TFormOhmra::Edit1KeyPress() { BitBtnOKClick(); }

void TFormOhmra::BitBtn_saveClick()
{
    if (!Allowed(TOhmraControl::Save))
        return;
    const unsigned session = session_;
    TOhmraFileStore& store = Store();
    store.FirstIndex = 0;
    SetState(TOhmraState::CommentEntry);
    GroupBox_Input_Comment->raise();
    // The field takes the focus the way a user tabbing into it would: its
    // text selected, so that typing replaces the previous comment.
    Edit_Comment->setFocus();
    Edit_Comment->selectAll();
    while (state_ == TOhmraState::CommentEntry) {
        Host().ProcessMessages();
        if (session != session_)
            return;
        Host().Sleep(1);
    }
    if (state_ != TOhmraState::Saving) {
        Live().Comment.clear();
        return;
    }
    Live().Comment = Edit_Comment->text();
    store.CurrentIndex = 0;
    store.LastIndex = 0;
    if (FormOhmraFComment) {
        int32_t r = 0;
        try {
            r = FormOhmraFComment->SaveToCsv(true, 0);
        } catch (...) {
            if (session == session_)
                SetState(TOhmraState::Ready);
            throw;
        }
        // A line the disk did not take must not go unnoticed; a file
        // that could not be opened at all has been reported already.
        if (r < 0 && !FormOhmraFComment->FailureShown)
            Prompt().Message(QStringLiteral("Error occured, data not saved ! Error no.: ") + QString::number(r),
                             QStringLiteral("Data error !"), TPromptIcon::Error);
    }
    if (session == session_)
        SetState(TOhmraState::Ready);
}

void TFormOhmra::BitBtn_OK_FileNoClick()
{
    // Taken back by the reading when the range is not valid.
    if (Allowed(TOhmraControl::RangeEntry) && rangeValid_)
        SetState(TOhmraState::ReadingFiles);
}

void TFormOhmra::MaskEdit_fnChange()
{
    bool ok1 = false, ok2 = false;
    const int a = MaskEdit_start_fn->text().remove(QLatin1Char(' ')).toInt(&ok1);
    const int b = MaskEdit_end_fn->text().remove(QLatin1Char(' ')).toInt(&ok2);
    // A number half typed keeps the last whole range.
    if (!ok1 || !ok2)
        return;
    rangeFirst_ = a;
    rangeLast_ = b;
    rangeValid_ = a >= 1 && b >= a;
    if (Allowed(TOhmraControl::RangeEntry))
        BitBtn_OK_FileNo->setEnabled(rangeValid_);
}

void TFormOhmra::BitBtn_readFileClick()
{
    if (!Allowed(TOhmraControl::ReadFile))
        return;
    const unsigned session = session_;
    try {
        RunFileReading(session);
    } catch (...) {
        if (session == session_)
            RecoverAfterError(true);
        throw;
    }
}

void TFormOhmra::RunFileReading(unsigned session)
{
    rangeValid_ = false;
    rangeFirst_ = rangeLast_ = 0;
    SetState(TOhmraState::RangeEntry);
    LabelReadFNo->hide();
    LabelFNo->hide();
    MaskEdit_start_fn->setText(QStringLiteral("1"));
    MaskEdit_end_fn->setText(QStringLiteral("1"));
    MaskEdit_start_fn->setFocus();
    MaskEdit_start_fn->selectAll();
    MaskEdit_fnChange();
    TOhmraFileStore& store = Store();
    store.ClearStoredFiles();

    for (;;) {
        Host().ProcessMessages();
        if (session != session_)
            return;
        // OK clicked in the same batch as an edit that spoiled the range
        // does not count: the comment window must never browse past its end.
        if (state_ == TOhmraState::ReadingFiles) {
            if (rangeValid_)
                break;
            SetState(TOhmraState::RangeEntry);
        }
        Host().Sleep(1);
    }
    const int first = rangeFirst_, last = rangeLast_;

    SetState(TOhmraState::ReadingFiles);
    LabelReadFNo->show();
    LabelFNo->show();
    QString unit;
    int read = 0;
    skipped_ = 0;
    for (int n = first; n <= last; ++n) {
        std::string data;
        // A file the meter refused or could not deliver, and an empty slot,
        // are no measurement: they are counted, not kept.
        if (ohmra_->ReadStoredFile(n, data) != 0 || !store.TakeStoredFile(n, data, unit)) {
            ++skipped_;
            continue;
        }
        ++read;
        LabelFNo->setText(QString::number(n));
        Host().ProcessMessages();
        if (session != session_)
            return;
    }
    Host().Sleep(100);
    ohmra_->Reset();
    Host().Sleep(100);

    TFormOhmraFComment* c = FormOhmraFComment;
    if (c)
        c->EditComments->clear();
    store.FirstIndex = first;
    store.LastIndex = last;
    LabelReadFNo->hide();
    LabelFNo->hide();
    store.Saved = true;
    if (!c || read == 0) {
        SetState(TOhmraState::Ready);
        if (read == 0)
            Prompt().Message(QStringLiteral("No stored file could be read (%1 skipped).").arg(skipped_),
                             QStringLiteral("Info"), TPromptIcon::Information);
        return;
    }
    SetState(TOhmraState::Browsing);
    hide();
    c->BeginBrowsing(skipped_);
}

void TFormOhmra::FilesBrowsed()
{
    if (state_ == TOhmraState::Browsing)
        SetState(TOhmraState::Ready);
}

void TFormOhmra::BitBtn_exitClick()
{
    if (Allowed(TOhmraControl::Exit))
        FormClose();
}

void TFormOhmra::FormClose()
{
    ++session_;
    Label_Ohmra_Me->clear();
    Label_Ohmra_Hu->clear();
    Label_Ohmra_Te->clear();
    Ohmra_GroupBox_V->setTitle(QStringLiteral("Resistor measured value"));
    LabelReadFNo->hide();
    LabelFNo->hide();
    // The next opening starts where the first did: Init and Exit.
    SetState(TOhmraState::NotInitialised);
    hide();
    if (MainState)
        MainState->StopFlag = true;
    CallHook(MainLink().ReturnToMain);
    CallHook(MainLink().CloseDisplay);
    ohmra_->Port().Close();
}

void TFormOhmra::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

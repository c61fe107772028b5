#include "cpm/TCPMSetup.h"

#include "acquisition/TChart.h"
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/CpmFiles.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Host.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"
#include "serial/DataDirectory.h"
#include "serial/TFoCom.h"

#include <QCloseEvent>
#include <QDate>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

TCPMSetup* CPMSetup = nullptr;

namespace {

const QStringList VStartItems = {"500 V", "550 V", "600 V", "650 V", "700 V", "750 V",
                                 "800 V", "850 V", "900 V", "950 V", "1000V"};
const QStringList VStopItems = {"0 V",   "50 V",  "100 V", "150 V", "200 V", "250 V",
                                "300 V", "350 V", "400 V", "450 V", "500 V"};
const QStringList OffsetTimeItems = {"0 sec.",   "10 sec.",  "20 sec.",  "30 sec.",  "40 sec.",  "50 sec.",
                                     "60 sec.",  "120 sec.", "180 sec.", "240 sec.", "300 sec.", "360 sec.",
                                     "420 sec.", "480 sec.", "540 sec.", "600 sec."};

// A list index from the settings or the monitor; one the list does not have
// leaves the box as it is (or at `fallback`), so that no run is started with
// a parameter the lists never offered.
void SetListIndex(QComboBox* box, int index, int fallback = -1)
{
    if (index >= 0 && index < box->count())
        box->setCurrentIndex(index);
    else if (fallback >= 0 && fallback < box->count())
        box->setCurrentIndex(fallback);
}

} // namespace

TCPMSetup::TCPMSetup(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("CPM Mode"));

    GBDisplay = new QGroupBox(QStringLiteral("Display"), this);
    MemoDisplay = new QPlainTextEdit(GBDisplay);
    MemoDisplay->setReadOnly(true);
    MemoDisplay->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoDisplay->setMinimumSize(380, 260);
    (new QVBoxLayout(GBDisplay))->addWidget(MemoDisplay);

    GroupBoxsetup = new QGroupBox(QStringLiteral("Setup"), this);
    SelectMode = new QGroupBox(QStringLiteral("SelectMode"), GroupBoxsetup);
    SelectModeItems = new QButtonGroup(SelectMode);
    auto* modeRow = new QHBoxLayout(SelectMode);
    int id = 0;
    for (const char* item : {"AUTO", "POS", "NEG"}) {
        auto* b = new QRadioButton(QString::fromLatin1(item), SelectMode);
        SelectModeItems->addButton(b, id++);
        modeRow->addWidget(b);
    }
    GroupBoxParameters = new QGroupBox(QStringLiteral("Parameters"), GroupBoxsetup);
    Label1 = new QLabel(QStringLiteral("VStart (V)"), GroupBoxParameters);
    ComboBoxVStart = new QComboBox(GroupBoxParameters);
    ComboBoxVStart->addItems(VStartItems);
    Label2 = new QLabel(QStringLiteral("VStop (V)"), GroupBoxParameters);
    ComboBoxVStop = new QComboBox(GroupBoxParameters);
    ComboBoxVStop->addItems(VStopItems);
    Label3 = new QLabel(QStringLiteral("Offset time (sec)"), GroupBoxParameters);
    ComboBoxOffsetTime = new QComboBox(GroupBoxParameters);
    ComboBoxOffsetTime->addItems(OffsetTimeItems);
    auto* params = new QGridLayout(GroupBoxParameters);
    params->addWidget(Label1, 0, 0);
    params->addWidget(ComboBoxVStart, 0, 1);
    params->addWidget(Label2, 1, 0);
    params->addWidget(ComboBoxVStop, 1, 1);
    params->addWidget(Label3, 2, 0);
    params->addWidget(ComboBoxOffsetTime, 2, 1);
    ButtonReadSetup = new QPushButton(QStringLiteral("&Read setup"), GroupBoxsetup);
    auto* setupLayout = new QVBoxLayout(GroupBoxsetup);
    setupLayout->addWidget(SelectMode);
    setupLayout->addWidget(GroupBoxParameters);
    setupLayout->addWidget(ButtonReadSetup);
    setupLayout->addStretch(1);
    SelectMode->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    GroupBoxParameters->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    BitBtnStart = new QPushButton(QStringLiteral("Start &Measure"), this);
    BitBtnChart = new QPushButton(QStringLiteral("View &Chart"), this);
    BitBtnBreak = new QPushButton(QStringLiteral("&Break"), this);
    BitBtnReadFile = new QPushButton(QStringLiteral("Read &File"), this);
    BitBtnInfo = new QPushButton(QStringLiteral("&Info"), this);
    ButtonClearDisplay = new QPushButton(QStringLiteral("C&lear Display"), this);
    BitBtnCancel = new QPushButton(QStringLiteral("E&xit"), this);
    auto* buttonColumn = new QVBoxLayout;
    for (QPushButton* b :
         {BitBtnStart, BitBtnChart, BitBtnBreak, BitBtnReadFile, BitBtnInfo, ButtonClearDisplay, BitBtnCancel}) {
        b->setMinimumSize(130, 30);
        buttonColumn->addWidget(b);
    }
    buttonColumn->addStretch(1);

    GroupBoxResult = new QGroupBox(QStringLiteral("Results"), this);
    QFont resultFont = font();
    resultFont.setPointSize(14);
    resultFont.setBold(true);
    auto makeResult = [&](QGroupBox*& box, QLabel*& label, const char* caption, const char* text) {
        box = new QGroupBox(QString::fromLatin1(caption), GroupBoxResult);
        label = new QLabel(QString::fromLatin1(text), box);
        label->setFont(resultFont);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(150);
        // A screen reader names each box by its own caption, not by "Results".
        box->setAccessibleName(QString::fromLatin1(caption));
        label->setAccessibleName(QString::fromLatin1(caption));
        (new QVBoxLayout(box))->addWidget(label);
    };
    // The start texts in the locale's own decimal separator, like every result.
    const QString zero = FormatCpmResult(0);
    makeResult(GroupBoxPosDecayTime, LabelPosDecayTime, "Pos. decay time", "");
    makeResult(GroupBoxNegDecayTime, LabelNegDecayTime, "Neg. decay time", "");
    makeResult(GroupBoxOffset, LabelOffset, "Offset", "0 V");
    LabelPosDecayTime->setText(zero + QStringLiteral(" sec"));
    LabelNegDecayTime->setText(zero + QStringLiteral(" sec"));
    BitBtnSaveResult = new QPushButton(QStringLiteral("Save results"), GroupBoxResult);
    BitBtnOK = new QPushButton(QStringLiteral("OK &save"), GroupBoxResult);
    BitBtnCancelSave = new QPushButton(QStringLiteral("Cancel"), GroupBoxResult);
    Label5 = new QLabel(QStringLiteral("Comment"), GroupBoxResult);
    Edit1 = new QLineEdit(GroupBoxResult);
    auto* resultLayout = new QGridLayout(GroupBoxResult);
    resultLayout->addWidget(GroupBoxPosDecayTime, 0, 0);
    resultLayout->addWidget(GroupBoxNegDecayTime, 0, 1);
    resultLayout->addWidget(GroupBoxOffset, 0, 2);
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveRow->addWidget(Label5);
    saveRow->addWidget(Edit1, 1);
    saveRow->addWidget(BitBtnOK);   // shares the place of "Save results"
    saveRow->addWidget(BitBtnSaveResult);
    saveRow->addWidget(BitBtnCancelSave);
    saveRow->addStretch(1);
    for (QPushButton* b : {BitBtnSaveResult, BitBtnOK, BitBtnCancelSave})
        b->setMinimumSize(130, 30);
    Edit1->setMinimumWidth(320);
    resultLayout->addLayout(saveRow, 1, 0, 1, 3);

    auto* top = new QHBoxLayout;
    top->addWidget(GBDisplay, 1);
    top->addWidget(GroupBoxsetup);
    top->addLayout(buttonColumn);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(GroupBoxResult);

    // Controls answer to their member names, so that they can be found the
    // way the handlers name them.
    setObjectName(QStringLiteral("CPMSetup"));
#define CPM_NAME(member) member->setObjectName(QStringLiteral(#member))
    CPM_NAME(GBDisplay);
    CPM_NAME(MemoDisplay);
    CPM_NAME(GroupBoxsetup);
    CPM_NAME(SelectMode);
    CPM_NAME(GroupBoxParameters);
    CPM_NAME(Label1);
    CPM_NAME(ComboBoxVStart);
    CPM_NAME(Label2);
    CPM_NAME(ComboBoxVStop);
    CPM_NAME(Label3);
    CPM_NAME(ComboBoxOffsetTime);
    CPM_NAME(ButtonReadSetup);
    CPM_NAME(BitBtnStart);
    CPM_NAME(BitBtnChart);
    CPM_NAME(BitBtnBreak);
    CPM_NAME(BitBtnReadFile);
    CPM_NAME(BitBtnInfo);
    CPM_NAME(ButtonClearDisplay);
    CPM_NAME(BitBtnCancel);
    CPM_NAME(GroupBoxResult);
    CPM_NAME(GroupBoxPosDecayTime);
    CPM_NAME(LabelPosDecayTime);
    CPM_NAME(GroupBoxNegDecayTime);
    CPM_NAME(LabelNegDecayTime);
    CPM_NAME(GroupBoxOffset);
    CPM_NAME(LabelOffset);
    CPM_NAME(BitBtnSaveResult);
    CPM_NAME(Label5);
    CPM_NAME(Edit1);
    CPM_NAME(BitBtnOK);
    CPM_NAME(BitBtnCancelSave);
#undef CPM_NAME
    // The mode items answer to the group's name and their index ("SelectMode_1").
    for (QAbstractButton* b : SelectModeItems->buttons())
        b->setObjectName(SelectMode->objectName() + QLatin1Char('_') + QString::number(SelectModeItems->id(b)));

    connect(BitBtnStart, &QPushButton::clicked, this, [this] { BitBtnStartClick(); });
    connect(BitBtnChart, &QPushButton::clicked, this, [this] { BitBtnChartClick(); });
    connect(BitBtnBreak, &QPushButton::clicked, this, [this] { BitBtnBreakClick(); });
    connect(BitBtnReadFile, &QPushButton::clicked, this, [this] { BitBtnReadFileClick(); });
    connect(BitBtnInfo, &QPushButton::clicked, this, [this] { BitBtnInfoClick(); });
    connect(ButtonReadSetup, &QPushButton::clicked, this, [this] { ButtonReadSetupClick(); });
    connect(ButtonClearDisplay, &QPushButton::clicked, this, [this] { ButtonClearDisplayClick(); });
    connect(BitBtnCancel, &QPushButton::clicked, this, [this] { BitBtnCancelClick(); });
    connect(BitBtnSaveResult, &QPushButton::clicked, this, [this] { BitBtnSaveResultClick(); });
    connect(BitBtnOK, &QPushButton::clicked, this, [this] { BitBtnOKClick(); });
    connect(BitBtnCancelSave, &QPushButton::clicked, this, [this] { BitBtnCancelSaveClick(); });
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { BitBtnOKClick(); });

    // The parameters of the last session come from SETUP.INI (never written here).
    const TIniFile ini(SetupIniPath());
    SetListIndex(ComboBoxVStart, ini.ReadInteger("CPM", "vStart", 10), 10);
    SetListIndex(ComboBoxVStop, ini.ReadInteger("CPM", "vStop", 10), 10);
    SetListIndex(ComboBoxOffsetTime, ini.ReadInteger("CPM", "tOffset", 2), 2);
    SetSelectModeIndex(0);

    resize(900, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect g = screen->geometry();
        move((g.width() - width()) / 2, (g.height() - height()) / 2 + 30);
    }
    MemoDisplay->clear();
    ApplyState();
}

int TCPMSetup::SelectModeIndex() const { return SelectModeItems->checkedId(); }

void TCPMSetup::SetSelectModeIndex(int index)
{
    if (QAbstractButton* b = SelectModeItems->button(index))
        b->setChecked(true);
}

C_CPM_EF& TCPMSetup::Cpm()
{
    if (!CpmDecay && FoCom)
        CreateCpmInstances(*FoCom->ComPort1);
    CpmDecay->Feeds = this;
    return *CpmDecay;
}

// One exchange of the window on the stack (a run, a read-out, a command, a
// comment entry): remembers the window's session it began under.
class TCpmExchange {
public:
    explicit TCpmExchange(TCPMSetup& w) : w_(w), session_(w.session_) { w_.exchangeSessions_.push_back(session_); }
    ~TCpmExchange() { w_.exchangeSessions_.pop_back(); }
    TCpmExchange(const TCpmExchange&) = delete;
    TCpmExchange& operator=(const TCpmExchange&) = delete;
    // The window was left (Exit) since this exchange began.
    bool Abandoned() const { return session_ != w_.session_; }

private:
    TCPMSetup& w_;
    int session_;
};

bool TCPMSetup::Abandoned() const { return !exchangeSessions_.empty() && exchangeSessions_.back() != session_; }

void TCPMSetup::EnableControls(bool on)
{
    SetState(on ? TCpmWindowState::Idle : TCpmWindowState::Exchanging);
    Host().ProcessMessages();
}

void TCPMSetup::SetState(TCpmWindowState state)
{
    state_ = state;
    ApplyState();
}

bool TCPMSetup::Allowed(TCpmAction action) const
{
    // A window that is not shown (left by Exit, or behind its chart) takes no clicks.
    return isVisible() && CpmActionAllowed(state_, action, unsaved_.has_value());
}

void TCPMSetup::ApplyState()
{
    const TCpmControls c = CpmControlsFor(state_, unsaved_.has_value());
    BitBtnStart->setEnabled(c.Start);
    BitBtnChart->setEnabled(c.Chart);
    BitBtnBreak->setEnabled(c.Break);
    BitBtnReadFile->setEnabled(c.ReadFile);
    BitBtnInfo->setEnabled(c.Info);
    GroupBoxsetup->setEnabled(c.Setup);
    ButtonClearDisplay->setEnabled(c.ClearDisplay);
    BitBtnCancel->setEnabled(c.Exit);
    BitBtnSaveResult->setEnabled(c.SaveResult);
    BitBtnSaveResult->setVisible(!c.CommentEntry);
    for (QWidget* w : {static_cast<QWidget*>(Label5), static_cast<QWidget*>(Edit1), static_cast<QWidget*>(BitBtnOK),
                       static_cast<QWidget*>(BitBtnCancelSave)})
        w->setVisible(c.CommentEntry);
}

void TCPMSetup::showEvent(QShowEvent* e)
{
    // Opened again from the menu: what it shows is its state, idle after Exit.
    ApplyState();
    QWidget::showEvent(e);
}

void TCPMSetup::SendDecaySetup()
{
    C_CPM_EF& cpm = Cpm();
    switch (SelectModeIndex()) {
    case 0: cpm.SetupValues[4] = "16"; break;
    case 1: cpm.SetupValues[4] = "33"; break;
    case 2: cpm.SetupValues[4] = "50"; break;
    default: break;
    }
    for (size_t i = 0; i < 4; ++i)
        cpm.SetupValues[i] = "0";
    cpm.SetupValues[8] = "1";
    cpm.SetupValues[5] = std::to_string(std::max(0, ComboBoxVStart->currentIndex()));
    cpm.SetupValues[6] = std::to_string(std::max(0, ComboBoxVStop->currentIndex()));
    cpm.SetupValues[7] = std::to_string(std::max(0, ComboBoxOffsetTime->currentIndex()));
    cpm.WriteSetup();
    Host().Sleep(500);
}

void TCPMSetup::RecoverFromPortError()
{
    GroupBoxOffset->setTitle(QStringLiteral("Offset"));
    LabelOffset->setText(FormatCpmResult(0) + QStringLiteral(" V"));
    MemoDisplay->clear();
    if (FormReadCPMFiles)
        FormReadCPMFiles->SetState(TCpmFilesDialogState::Hidden);
    if (CpmDecay) {
        TCustomComPort& port = CpmDecay->Port();
        try {
            port.Close();
            // A line that only timed out is there for the next try; a device
            // that went away stays closed until the window is opened again.
            port.Open();
        } catch (...) {
        }
    }
    SetState(TCpmWindowState::Idle);
    show();
}

void TCPMSetup::BitBtnStartClick()
{
    if (!Allowed(TCpmAction::Start))
        return;
    TCpmExchange exchange(*this);
    unsaved_.reset();
    SetState(TCpmWindowState::Measuring);
    MemoDisplay->clear();
    SetMemoFontSize(12);
    GroupBoxOffset->setTitle(QStringLiteral("Offset"));
    const QString zero = FormatCpmResult(0);
    LabelPosDecayTime->setText(zero + QStringLiteral(" sec"));
    LabelNegDecayTime->setText(zero + QStringLiteral(" sec"));
    LabelOffset->setText(zero + QStringLiteral(" V"));
    LabelPosDecayTime->setVisible(true);
    LabelNegDecayTime->setVisible(true);
    if (SelectModeIndex() == 1)
        LabelNegDecayTime->setVisible(false);
    if (SelectModeIndex() == 2)
        LabelPosDecayTime->setVisible(false);
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral("Start measurement!"));
    AddMemoLine(QStringLiteral("Please wait...."));

    int32_t start = 0, stop = 0, offsetTime = 0;
    double posDecay = 0, negDecay = 0, offsetVoltage = 0;
    bool aborted = false;
    std::string mode;
    try {
        Host().ProcessMessages();
        if (exchange.Abandoned())
            return;
        SendDecaySetup();
        mode = Cpm().SetupValues[4];
        Host().Sleep(500);
        AddMemoLine(QStringLiteral("Setup succeeded."));
        AddMemoLine(QStringLiteral("Measurement decay time in processing."));
        Cpm().MeasureDecay(start, stop, offsetTime, posDecay, negDecay, offsetVoltage, aborted);
    } catch (const TCpmAbandoned&) {
        return;
    } catch (...) {
        if (exchange.Abandoned())
            return; // the window was left during the run: nobody to tell
        RecoverFromPortError();
        throw;
    }
    if (exchange.Abandoned())
        return;

    if (aborted) {
        AddMemoLine(QStringLiteral("Process abortet !!"));
    } else {
        AddMemoLine(QStringLiteral("Decay time measuring successful finished !"));
        LabelPosDecayTime->setText(FormatCpmResult(posDecay) + QStringLiteral(" sec"));
        LabelNegDecayTime->setText(FormatCpmResult(negDecay) + QStringLiteral(" sec"));
        LabelOffset->setText(FormatCpmResult(offsetVoltage) + QStringLiteral(" V"));
        TRunResult r;
        r.Result.StartVoltage = start;
        r.Result.StopVoltage = stop;
        r.Result.OffsetTime = offsetTime;
        r.Result.PosDecayTime = posDecay;
        r.Result.NegDecayTime = negDecay;
        r.Result.OffsetVoltage = offsetVoltage;
        r.Mode = mode;
        unsaved_ = r;
    }
    SetState(TCpmWindowState::Idle);
}

void TCPMSetup::BitBtnBreakClick()
{
    if (!Allowed(TCpmAction::Break))
        return;
    const TCpmWindowState was = state_;
    // A comment entry in progress ends without saving.
    if (was == TCpmWindowState::Commenting)
        commentAnswer_ = TCommentAnswer::Cancel;
    // A run now waits for the monitor's abort frame and lets nothing else
    // on the line; anywhere else BEL is a short exchange of its own.
    SetState(was == TCpmWindowState::Measuring ? TCpmWindowState::Breaking : TCpmWindowState::Exchanging);
    try {
        Cpm().SendBreak();
    } catch (...) {
        if (was != TCpmWindowState::Measuring)
            SetState(was);
        throw;
    }
    if (was != TCpmWindowState::Measuring)
        SetState(was);
}

void TCPMSetup::BitBtnInfoClick()
{
    if (!Allowed(TCpmAction::Info))
        return;
    TCpmExchange exchange(*this);
    SetState(TCpmWindowState::Exchanging);
    C_CPM_EF& cpm = Cpm();
    try {
        cpm.UpdateIdentification();
    } catch (...) {
        RecoverFromPortError();
        throw;
    }
    SetState(TCpmWindowState::Idle);
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral(" "));
    SetMemoFontSize(18);
    AddMemoLine("SW-Version\t: " + cpm.SwVersion);
    AddMemoLine("Serial number\t: " + cpm.SerialNumber);
    AddMemoLine("Date of production\t: " + cpm.ProductionDate);
}

void TCPMSetup::ButtonReadSetupClick()
{
    if (!Allowed(TCpmAction::ReadSetup))
        return;
    TCpmExchange exchange(*this);
    SetState(TCpmWindowState::Exchanging);
    C_CPM_EF& cpm = Cpm();
    try {
        cpm.ReadSetup();
    } catch (...) {
        RecoverFromPortError();
        throw;
    }
    SetState(TCpmWindowState::Idle);
    SetListIndex(ComboBoxVStart, HexToInt(cpm.SetupValues[5]));
    SetListIndex(ComboBoxVStop, HexToInt(cpm.SetupValues[6]));
    SetListIndex(ComboBoxOffsetTime, HexToInt(cpm.SetupValues[7]));
    switch (HexToInt(cpm.SetupValues[4])) {
    case 0x10: SetSelectModeIndex(0); break;
    case 0x21: SetSelectModeIndex(1); break;
    case 0x32: SetSelectModeIndex(2); break;
    default: break;
    }
}

void TCPMSetup::ButtonClearDisplayClick()
{
    if (Allowed(TCpmAction::ClearDisplay))
        MemoDisplay->clear();
}

void TCPMSetup::closeEvent(QCloseEvent* e)
{
    // The window has no close button; a close from elsewhere (the window
    // manager's shortcut) takes the way Exit takes, back to the main window,
    // or none while Exit is not offered. Hiding without it would leave the
    // main window disabled and the port open.
    e->ignore();
    if (Allowed(TCpmAction::Exit))
        BitBtnCancelClick();
}

void TCPMSetup::BitBtnCancelClick()
{
    if (!Allowed(TCpmAction::Exit))
        return;
    // Whatever still runs below this click (a run after Break, the read-out
    // in one of its waits, the comment entry) ends without another byte.
    ++session_;
    commentAnswer_ = TCommentAnswer::Cancel;
    if (FormReadCPMFiles)
        FormReadCPMFiles->SetState(TCpmFilesDialogState::Hidden);
    GroupBoxOffset->setTitle(QStringLiteral("Offset"));
    SetState(TCpmWindowState::Idle);
    hide();
    if (FoCom)
        FoCom->ClosePort();
    else if (CpmDecay)
        CpmDecay->Port().Close();
    CallHook(MainLink().ReturnToMain);
}

// --- result file --------------------------------------------------------------

void TCPMSetup::BitBtnSaveResultClick()
{
    if (!Allowed(TCpmAction::SaveResult) || !unsaved_)
        return;
    TCpmExchange exchange(*this);
    commentAnswer_ = TCommentAnswer::None;
    SetState(TCpmWindowState::Commenting);
    Edit1->raise();
    Edit1->setFocus();
    while (commentAnswer_ == TCommentAnswer::None && isVisible() && !exchange.Abandoned()) {
        Host().Sleep(1);
        Host().ProcessMessages();
    }
    if (exchange.Abandoned())
        return;
    const bool ok = commentAnswer_ == TCommentAnswer::Ok;
    commentAnswer_ = TCommentAnswer::None;
    if (ok && unsaved_) {
        // The run's own result and mode, whatever a read-out or "Read setup"
        // has put into the decay instance since.
        const TRunResult r = *unsaved_;
        C_CPM_EF& cpm = Cpm();
        const std::string setupMode = cpm.SetupValues[4];
        cpm.SetupValues[4] = r.Mode;
        int written = 1;
        try {
            written = cpm.SaveResult(r.Result.StartVoltage, r.Result.StopVoltage, r.Result.OffsetTime,
                                     r.Result.PosDecayTime, r.Result.NegDecayTime, r.Result.OffsetVoltage,
                                     Edit1->text());
        } catch (...) {
            cpm.SetupValues[4] = setupMode;
            if (!exchange.Abandoned())
                SetState(TCpmWindowState::Idle);
            throw;
        }
        cpm.SetupValues[4] = setupMode;
        // Each run is saved once; one not written (dialog cancelled, file
        // not writable) can still be saved.
        if (written == 0) {
            unsaved_.reset();
            // Shown at once even when the window was left while the file was
            // written: a hidden window must not keep offering a saved run.
            ApplyState();
        }
    }
    if (!exchange.Abandoned())
        SetState(TCpmWindowState::Idle);
}

void TCPMSetup::BitBtnOKClick()
{
    if (Allowed(TCpmAction::OkSave))
        commentAnswer_ = TCommentAnswer::Ok;
}

void TCPMSetup::BitBtnCancelSaveClick()
{
    if (Allowed(TCpmAction::CancelSave))
        commentAnswer_ = TCommentAnswer::Cancel;
}

// --- read-out of the stored files ----------------------------------------------

void TCPMSetup::BitBtnReadFileClick()
{
    if (!Allowed(TCpmAction::ReadFile))
        return;
    TCpmExchange exchange(*this);
    show();
    SetState(TCpmWindowState::ReadingFiles);
    StoredRecords.fill(std::string());
    StoredComments.fill(QString());
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral("\r\nStart reading !"));

    int result = 0;
    try {
        Host().ProcessMessages();
        if (exchange.Abandoned())
            return;
        C_CPM_EF& cpm = Cpm();
        cpm.ReadSetup();
        // Setup byte 9 comes as two hex digits like the other eight: the
        // number of stored files plus one.
        int first = 1;
        int last = std::clamp(HexToInt(cpm.SetupValues[8]) - 1, 0, 99);
        result = AskFileRange(first, last);
        if (result == 0)
            result = ReadAndReportFiles(first, last);
        if (result == 0)
            result = AskFileComments(first, last);
        if (result == 0) {
            show();
            QString fileName;
            const int r = cpm.CreateDataFile(fileName);
            if (r == 2) {
                result = 2;
            } else {
                for (int n = first; n <= last && n < int(StoredRecords.size()); ++n) {
                    if (n < 0)
                        continue;
                    cpm.ParseRecord(StoredRecords[size_t(n)]);
                    cpm.Comment = StoredComments[size_t(n)];
                    result = cpm.AppendRecord(fileName);
                    if (result != 0)
                        break;
                }
            }
        }
    } catch (const TCpmAbandoned&) {
        return;
    } catch (...) {
        if (exchange.Abandoned())
            return;
        RecoverFromPortError();
        throw;
    }
    if (exchange.Abandoned())
        return;

    if (result != 0) {
        MemoDisplay->clear();
        AddMemoLine(QStringLiteral("\r\nWarning!! EEProm data not stored in the data file."));
        if (result == -10)
            AddMemoLine(QStringLiteral("\r\nUser break !"));
    } else {
        AddMemoLine(QStringLiteral("\r\nEEProm data from CPM stored successful in data file !"));
    }
    SetState(TCpmWindowState::Idle);
    show();
}

int TCPMSetup::AskFileRange(int& first, int& last)
{
    TFormReadCPMFiles* d = FormReadCPMFiles;
    d->SetState(TCpmFilesDialogState::AskingRange);
    for (;;) {
        d->OKFlag = false;
        d->AbortFlag = false;
        d->MaskEditStart->setText(QString::number(first));
        d->MaskEditStopp->setText(QString::number(last));
        d->activateWindow();
        d->MaskEditStart->setFocus();
        while (!d->OKFlag && !d->AbortFlag && d->isVisible() && isVisible() && !Abandoned()) {
            Host().Sleep(10);
            Host().ProcessMessages();
        }
        if (Abandoned())
            throw TCpmAbandoned{};
        first = TFormReadCPMFiles::FieldNumber(d->MaskEditStart);
        last = TFormReadCPMFiles::FieldNumber(d->MaskEditStopp);
        if (!d->OKFlag) {
            d->SetState(TCpmFilesDialogState::Hidden);
            first = last = 0;
            return -10;
        }
        if (last < first) {
            Prompt().Message(QStringLiteral("Value for start is higher than value for stop !! "),
                             QStringLiteral("Incorrect input !"), TPromptIcon::Warning);
            continue;
        }
        d->SetState(TCpmFilesDialogState::Hidden);
        return 0;
    }
}

int TCPMSetup::ReadAndReportFiles(int first, int& last)
{
    int count = 0;
    const int status = Cpm().ReadStoredFiles(first, last, StoredRecords, count);
    if (status == -2 || status == -3) {
        last = count;
        MemoDisplay->clear();
        Prompt().Message(QStringLiteral("!! No data stored in EEProm !! "), QStringLiteral("Info"),
                         TPromptIcon::Information);
        return status;
    }
    if (status == -1) {
        // The monitor stopped answering: the files read before are stored,
        // the rest get no line at all (an empty record would read as zeros).
        const int silent = count + 1;
        Prompt().Message(QStringLiteral("The CPM did not answer for file no. %1 ! Files from no. %1 on are not read.")
                             .arg(silent, 2, 10, QLatin1Char('0')),
                         QStringLiteral("Error"), TPromptIcon::Warning);
        last = count;
        return count < first ? -1 : 0;
    }
    last = count;
    return 0;
}

int TCPMSetup::AskFileComments(int first, int last)
{
    TFormReadCPMFiles* d = FormReadCPMFiles;
    StoredComments.fill(QString());
    bool aborted = false;
    try {
        d->LabelFileNumberMax->setText(QString::number(last - first + 1));
        d->CheckBoxSameComment->setChecked(false);
        d->SetState(TCpmFilesDialogState::AskingComment);
        for (int n = first; n <= last; ++n) {
            d->OKFlag = false;
            d->AbortFlag = false;
            d->LabelFileNumberActuell->setText(QString::number(n));
            d->activateWindow();
            d->TextCommentFile->setFocus();
            d->TextCommentFile->selectAll(); // the last comment is offered again
            while (!d->OKFlag && !d->AbortFlag && d->isVisible() && isVisible() && !Abandoned()) {
                Host().Sleep(10);
                Host().ProcessMessages();
            }
            if (Abandoned())
                throw TCpmAbandoned{};
            if (!d->OKFlag) {
                aborted = true;
                break;
            }
            if (n >= 0 && n < int(StoredComments.size()))
                StoredComments[size_t(n)] = d->TextCommentFile->text();
            if (d->CheckBoxSameComment->isChecked()) {
                for (int m = n + 1; m <= last && m < int(StoredComments.size()); ++m)
                    if (m >= 0)
                        StoredComments[size_t(m)] = d->TextCommentFile->text();
                break;
            }
        }
    } catch (const TCpmAbandoned&) {
        throw;
    } catch (...) {
        d->SetState(TCpmFilesDialogState::Hidden);
        return 1;
    }
    d->SetState(TCpmFilesDialogState::Hidden);
    return aborted ? -10 : 0;
}

// --- "View &Chart" -------------------------------------------------------------

void TCPMSetup::BitBtnChartClick()
{
    if (!Allowed(TCpmAction::Chart))
        return;
    TFormChartCPM* c = FormChartCPM;
    c->Chart1->RepaintNow();
    hide();
    c->SetState(TCpmChartState::Shown);
    c->SetTitle(Edit1->text() + QLatin1Char('\n') + "pos. decay " + LabelPosDecayTime->text() + " / neg. decay " +
                LabelNegDecayTime->text() + " / offset " + LabelOffset->text());
    c->FitTimeAxis();
}

// --- feeds of the decay instance ------------------------------------------------

void TCPMSetup::SetOffsetCaption(const QString& text) { GroupBoxOffset->setTitle(text); }
void TCPMSetup::SetVoltageText(const QString& text) { LabelOffset->setText(text); }

void TCPMSetup::ClearChart()
{
    if (!FormChartCPM)
        return;
    FormChartCPM->ClearSeries();
    FormChartCPM->SetState(TCpmChartState::Hidden);
}

void TCPMSetup::AddPoint(TCpmSeries series, double x, double y, TCpmColour colour)
{
    if (FormChartCPM)
        FormChartCPM->AddPoint(series, x, y, colour);
}

void TCPMSetup::ClearMemo() { MemoDisplay->clear(); }

void TCPMSetup::SetMemoFontSize(int points)
{
    QFont f = MemoDisplay->font();
    f.setPointSize(points);
    MemoDisplay->setFont(f);
}

void TCPMSetup::AddMemoLine(const QString& line)
{
    QString text = line;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    MemoDisplay->appendPlainText(text);
}

bool TCPMSetup::AskSaveFileName(const QString& initialDir, QString& fileName)
{
    // Each kind of file is offered in the folder last used for that kind,
    // under a name that says what it holds and when.
    const bool results = state_ == TCpmWindowState::Commenting;
    const QString& lastDir = results ? resultsDir_ : filesDir_;
    const QString dir = lastDir.isEmpty() ? initialDir : lastDir;
    QString name = CpmProposedFileName(results, QDate::currentDate());
    if (ChooseSaveFile) {
        if (!ChooseSaveFile(dir, name))
            return false;
        fileName = name;
        return true;
    }
    if (!FoCom || !FoCom->SaveDialog1)
        return false;
    QFileDialog* dlg = FoCom->SaveDialog1;
    dlg->setDirectory(dir.isEmpty() ? QString::fromStdString(HomeDirectory()) : dir);
    dlg->selectFile(name);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
        return false;
    fileName = dlg->selectedFiles().front();
    return true;
}

void TCPMSetup::DataDirectoryUpdate(const QString& fileName)
{
    const QString folder = QFileInfo(fileName).absolutePath() + QLatin1Char('/');
    (state_ == TCpmWindowState::Commenting ? resultsDir_ : filesDir_) = folder;
    if (FoCom)
        FoCom->UpdateCpmDataDirectory(fileName);
    else if (MainState)
        UpdateCpmDataDirectory(*MainState, fileName);
}

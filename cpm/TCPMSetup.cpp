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

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

// Turns a hang-up or a time-out into a clean state whatever happens in
// between, then lets the error go on to be shown.
template <class F>
void GuardPortErrors(F&& body, const std::function<void()>& recover)
{
    try {
        body();
    } catch (...) {
        recover();
        throw;
    }
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
        (new QVBoxLayout(box))->addWidget(label);
    };
    makeResult(GroupBoxPosDecayTime, LabelPosDecayTime, "Pos. decay time", "0,0 sec");
    makeResult(GroupBoxNegDecayTime, LabelNegDecayTime, "Neg. decay time", "0,0 sec");
    makeResult(GroupBoxOffset, LabelOffset, "Offset", "0 V");
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
    BitBtnSaveResult->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(Label5), static_cast<QWidget*>(Edit1),
                       static_cast<QWidget*>(BitBtnOK), static_cast<QWidget*>(BitBtnCancelSave)})
        w->setVisible(false);

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

void TCPMSetup::EnableControls(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(BitBtnStart), static_cast<QWidget*>(BitBtnChart),
                       static_cast<QWidget*>(BitBtnInfo), static_cast<QWidget*>(BitBtnCancel),
                       static_cast<QWidget*>(GroupBoxsetup), static_cast<QWidget*>(BitBtnReadFile)})
        w->setEnabled(on);
    Host().ProcessMessages();
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
    running_ = false;
    readingFiles_ = false;
    GroupBoxOffset->setTitle(QStringLiteral("Offset"));
    if (FormReadCPMFiles)
        FormReadCPMFiles->hide();
    if (CpmDecay) {
        TCustomComPort& port = CpmDecay->Port();
        try {
            port.Close();
            // A line that only timed out is there for the next try; a device
            // that went away stays closed until the window is opened again.
            if (!exited_)
                port.Open();
        } catch (...) {
        }
    }
    if (!exited_) {
        EnableControls(true);
        show();
    }
}

void TCPMSetup::BitBtnStartClick()
{
    if (running_)
        return; // the last run still waits for its abort frame
    exited_ = false;
    commentCancel_ = true; // a comment entry still open belongs to the last run
    EnableControls(false);
    MemoDisplay->clear();
    SetMemoFontSize(12);
    GroupBoxOffset->setTitle(QStringLiteral("Offset"));
    BitBtnSaveResult->setEnabled(false);
    LabelPosDecayTime->setText(QStringLiteral("0.0 sec"));
    LabelNegDecayTime->setText(QStringLiteral("0.0 sec"));
    LabelOffset->setText(QStringLiteral("0.0 V"));
    LabelPosDecayTime->setVisible(true);
    LabelNegDecayTime->setVisible(true);
    if (SelectModeIndex() == 1)
        LabelNegDecayTime->setVisible(false);
    if (SelectModeIndex() == 2)
        LabelPosDecayTime->setVisible(false);
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral("Start measurement!"));
    AddMemoLine(QStringLiteral("Please wait...."));
    Host().ProcessMessages();

    int32_t start = 0, stop = 0, offsetTime = 0;
    double posDecay = 0, negDecay = 0, offsetVoltage = 0;
    bool aborted = false;
    running_ = true;
    try {
        SendDecaySetup();
        Host().Sleep(500);
        AddMemoLine(QStringLiteral("Setup succeeded."));
        AddMemoLine(QStringLiteral("Measurement decay time in processing."));
        Cpm().MeasureDecay(start, stop, offsetTime, posDecay, negDecay, offsetVoltage, aborted);
    } catch (...) {
        const bool quiet = exited_; // the window was left during the run: nobody to tell
        RecoverFromPortError();
        if (quiet)
            return;
        throw;
    }
    running_ = false;
    if (exited_)
        return;

    if (aborted) {
        AddMemoLine(QStringLiteral("Process abortet !!"));
    } else {
        AddMemoLine(QStringLiteral("Decay time measuring successful finished !"));
        LabelPosDecayTime->setText(FormatCpmResult(posDecay) + QStringLiteral(" sec"));
        LabelNegDecayTime->setText(FormatCpmResult(negDecay) + QStringLiteral(" sec"));
        LabelOffset->setText(FormatCpmResult(offsetVoltage) + QStringLiteral(" V"));
        BitBtnSaveResult->setEnabled(true);
    }
    EnableControls(true);
}

void TCPMSetup::BitBtnBreakClick()
{
    Cpm().SendBreak();
    EnableControls(true);
    // Until the monitor has sent the abort frame, nothing else may talk to
    // it: a command now would take that frame for its reply and leave the
    // run waiting for nothing. Exit stays usable.
    if (running_)
        for (QWidget* w : {static_cast<QWidget*>(BitBtnStart), static_cast<QWidget*>(BitBtnInfo),
                           static_cast<QWidget*>(GroupBoxsetup), static_cast<QWidget*>(BitBtnReadFile)})
            w->setEnabled(false);
    // A comment entry in progress ends without saving.
    commentOk_ = false;
    commentCancel_ = true;
    BitBtnSaveResult->setVisible(true);
    BitBtnOK->setVisible(false);
}

void TCPMSetup::BitBtnInfoClick()
{
    if (running_)
        return;
    C_CPM_EF& cpm = Cpm();
    cpm.UpdateIdentification();
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral(" "));
    SetMemoFontSize(18);
    AddMemoLine("SW-Version\t: " + cpm.SwVersion);
    AddMemoLine("Serial number\t: " + cpm.SerialNumber);
    AddMemoLine("Date of production\t: " + cpm.ProductionDate);
}

void TCPMSetup::ButtonReadSetupClick()
{
    if (running_)
        return;
    C_CPM_EF& cpm = Cpm();
    cpm.ReadSetup();
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

void TCPMSetup::ButtonClearDisplayClick() { MemoDisplay->clear(); }

void TCPMSetup::BitBtnCancelClick()
{
    exited_ = true;
    commentCancel_ = true;
    hide();
    if (FormReadCPMFiles)
        FormReadCPMFiles->hide();
    if (FoCom)
        FoCom->ClosePort();
    else if (CpmDecay)
        CpmDecay->Port().Close();
    CallHook(MainLink().ReturnToMain);
}

// --- result file --------------------------------------------------------------

void TCPMSetup::BitBtnSaveResultClick()
{
    commentOk_ = false;
    commentCancel_ = false;
    BitBtnSaveResult->setVisible(false);
    BitBtnOK->setVisible(true);
    BitBtnCancelSave->setVisible(true);
    Label5->setVisible(true);
    Edit1->setVisible(true);
    Edit1->raise();
    Edit1->setFocus();
    while (!commentOk_ && !commentCancel_ && isVisible()) {
        Host().Sleep(1);
        Host().ProcessMessages();
    }
    if (commentOk_) {
        C_CPM_EF& cpm = Cpm();
        const int r = cpm.SaveResult(cpm.StartVoltage, cpm.StopVoltage, cpm.OffsetTime, cpm.PosDecayTime,
                                     cpm.NegDecayTime, cpm.OffsetVoltage, Edit1->text());
        // Each run is saved once; one not written (dialog cancelled, file
        // not writable) can still be saved.
        if (r == 0)
            BitBtnSaveResult->setEnabled(false);
    }
    Edit1->setVisible(false);
    BitBtnSaveResult->setVisible(true);
    BitBtnOK->setVisible(false);
    BitBtnCancelSave->setVisible(false);
    Label5->setVisible(false);
}

void TCPMSetup::BitBtnOKClick() { commentOk_ = true; }
void TCPMSetup::BitBtnCancelSaveClick() { commentCancel_ = true; }

// --- read-out of the stored files ----------------------------------------------

void TCPMSetup::BitBtnReadFileClick()
{
    if (running_ || readingFiles_)
        return;
    exited_ = false;
    show();
    EnableControls(false);
    readingFiles_ = true;
    StoredRecords.fill(std::string());
    StoredComments.fill(QString());
    MemoDisplay->clear();
    AddMemoLine(QStringLiteral("\r\nStart reading !"));

    int result = 0;
    GuardPortErrors(
        [&] {
            C_CPM_EF& cpm = Cpm();
            cpm.ReadSetup();
            int first = 1;
            bool ok = false;
            int last = Latin1(cpm.SetupValues[8]).trimmed().toInt(&ok, 10);
            last = std::clamp(ok ? last - 1 : 0, 0, 99);
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
        },
        [this] { RecoverFromPortError(); });
    readingFiles_ = false;
    if (exited_)
        return;

    if (result != 0) {
        MemoDisplay->clear();
        AddMemoLine(QStringLiteral("\r\nWarning!! EEProm data not stored in the data file."));
        if (result == -10)
            AddMemoLine(QStringLiteral("\r\nUser break !"));
    } else {
        AddMemoLine(QStringLiteral("\r\nEEProm data from CPM stored successful in data file !"));
    }
    EnableControls(true);
    show();
}

int TCPMSetup::AskFileRange(int& first, int& last)
{
    TFormReadCPMFiles* d = FormReadCPMFiles;
    d->GroupBoxRangeFileNumber->setVisible(true);
    d->LabelRangeFileNumber->setVisible(true);
    d->Label1->setVisible(true);
    d->MaskEditStart->setVisible(true);
    d->MaskEditStopp->setVisible(true);
    d->GroupBoxInputComment->setVisible(false);
    d->FitToContents();
    d->show();
    d->raise();
    for (;;) {
        d->OKFlag = false;
        d->AbortFlag = false;
        d->MaskEditStart->setText(QString::number(first));
        d->MaskEditStopp->setText(QString::number(last));
        d->activateWindow();
        d->MaskEditStart->setFocus();
        while (!d->OKFlag && !d->AbortFlag && d->isVisible() && isVisible()) {
            Host().Sleep(10);
            Host().ProcessMessages();
        }
        first = TFormReadCPMFiles::FieldNumber(d->MaskEditStart);
        last = TFormReadCPMFiles::FieldNumber(d->MaskEditStopp);
        if (!d->OKFlag) {
            d->hide();
            first = last = 0;
            return -10;
        }
        if (last < first) {
            Prompt().Message(QStringLiteral("Value for start is higher than value for stop !! "),
                             QStringLiteral("Incorrect input !"), TPromptIcon::Warning);
            continue;
        }
        d->hide();
        return 0;
    }
}

int TCPMSetup::ReadAndReportFiles(int first, int& last)
{
    int count = 0;
    const int status = Cpm().ReadStoredFiles(first, last, StoredRecords, count);
    last = count;
    if (status == -2 || status == -3) {
        MemoDisplay->clear();
        Prompt().Message(QStringLiteral("!! No data stored in EEProm !! "), QStringLiteral("Info"),
                         TPromptIcon::Information);
        return status;
    }
    return 0;
}

int TCPMSetup::AskFileComments(int first, int last)
{
    TFormReadCPMFiles* d = FormReadCPMFiles;
    StoredComments.fill(QString());
    bool aborted = false;
    try {
        d->GroupBoxRangeFileNumber->setVisible(true);
        d->GroupBoxInputComment->setVisible(true);
        d->LabelRangeFileNumber->setVisible(false);
        d->Label1->setVisible(false);
        d->MaskEditStart->setVisible(false);
        d->MaskEditStopp->setVisible(false);
        d->LabelFileNumberMax->setText(QString::number(last - first + 1));
        d->FitToContents();
        d->show();
        d->raise();
        for (int n = first; n <= last; ++n) {
            d->OKFlag = false;
            d->AbortFlag = false;
            d->LabelFileNumberActuell->setText(QString::number(n));
            d->activateWindow();
            d->TextCommentFile->setFocus();
            d->TextCommentFile->selectAll(); // the last comment is offered again
            while (!d->OKFlag && !d->AbortFlag && d->isVisible() && isVisible()) {
                Host().Sleep(10);
                Host().ProcessMessages();
            }
            if (!d->OKFlag) {
                aborted = true;
                break;
            }
            if (n >= 0 && n < int(StoredComments.size()))
                StoredComments[size_t(n)] = d->TextCommentFile->text();
        }
    } catch (...) {
        d->hide();
        return 1;
    }
    d->hide();
    return aborted ? -10 : 0;
}

// --- "View &Chart" -------------------------------------------------------------

void TCPMSetup::BitBtnChartClick()
{
    TFormChartCPM* c = FormChartCPM;
    c->Chart1->RepaintNow();
    hide();
    c->show();
    c->Chart1->setVisible(true);
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
    FormChartCPM->hide();
    FormChartCPM->Chart1->setVisible(false);
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
    if (ChooseSaveFile)
        return ChooseSaveFile(initialDir, fileName);
    if (!FoCom || !FoCom->SaveDialog1)
        return false;
    QFileDialog* dlg = FoCom->SaveDialog1;
    dlg->setDirectory(initialDir.isEmpty() ? QString::fromStdString(HomeDirectory()) : initialDir);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
        return false;
    fileName = dlg->selectedFiles().front();
    return true;
}

void TCPMSetup::DataDirectoryUpdate(const QString& fileName)
{
    if (FoCom)
        FoCom->UpdateCpmDataDirectory(fileName);
    else if (MainState)
        UpdateCpmDataDirectory(*MainState, fileName);
}

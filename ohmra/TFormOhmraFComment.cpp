#include "ohmra/TFormOhmraFComment.h"

#include "ohmra/TFormOhmra.h"
#include "ohmra/TOhmraRadioGroup.h"
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/DataDirectory.h"
#include "widgets/Placement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

TFormOhmraFComment* FormOhmraFComment = nullptr;

namespace {
QLabel* MakeLabel(const QString& text, QWidget* parent, int x, int y, int w = 160, int h = 22)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, h);
    return l;
}
} // namespace

TFormOhmraFComment::TFormOhmraFComment(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Ohmra "));
    setFixedSize(560, 300);
    CentreOnScreen(this, 30);

    GroupBoxOhmraFileComments = new QGroupBox(QStringLiteral(" Input file comments "), this);
    GroupBoxOhmraFileComments->setGeometry(8, 8, 544, 284);
    QGroupBox* g = GroupBoxOhmraFileComments;

    LabelFileNumber_ = MakeLabel(QStringLiteral("File number"), g, 16, 30);
    LabelResistor_ = MakeLabel(QStringLiteral("Resistor"), g, 16, 54);
    LabelHumidity_ = MakeLabel(QStringLiteral("Humidity"), g, 16, 78);
    LabelTemperature_ = MakeLabel(QStringLiteral("Temperature"), g, 16, 102);
    LabelTimer_ = MakeLabel(QStringLiteral("Timer"), g, 16, 126);
    LabelAL_ = MakeLabel(QStringLiteral("Average / Lapse"), g, 16, 150);
    LabelFileNumber = MakeLabel(QStringLiteral("1"), g, 180, 30);
    LabelResistor = MakeLabel(QStringLiteral("0"), g, 180, 54);
    LabelHumidity = MakeLabel(QStringLiteral("0"), g, 180, 78);
    LabelTemperature = MakeLabel(QStringLiteral("0"), g, 180, 102);
    LabelTimer = MakeLabel(QStringLiteral("0"), g, 180, 126);
    LabelAL = MakeLabel(QStringLiteral("Average"), g, 180, 150);
    QFont bold = LabelFileNumber->font();
    bold.setBold(true);
    for (QLabel* l : {LabelFileNumber, LabelResistor, LabelHumidity, LabelTemperature, LabelTimer, LabelAL})
        l->setFont(bold);
    LabelFileNumber_->setCursor(Qt::PointingHandCursor);
    LabelFileNumber_->installEventFilter(this);
    GroupBoxOhmraFileComments->installEventFilter(this);

    BitBtnStart = new QPushButton(QStringLiteral("<<"), g);
    BitBtnStart->setToolTip(QStringLiteral("Go to the first file number."));
    BitBtnPrevious = new QPushButton(QStringLiteral("<"), g);
    BitBtnPrevious->setToolTip(QStringLiteral("Go to previous file number."));
    BitBtnNext = new QPushButton(QStringLiteral(">"), g);
    BitBtnNext->setToolTip(QStringLiteral("Go to next file number."));
    BitBtnEnd = new QPushButton(QStringLiteral(">>"), g);
    BitBtnEnd->setToolTip(QStringLiteral("Go to the last file number."));
    int x = 16;
    for (QPushButton* b : {BitBtnStart, BitBtnPrevious, BitBtnNext, BitBtnEnd}) {
        b->setGeometry(x, 182, 72, 28);
        x += 80;
    }

    LabelComment = MakeLabel(QStringLiteral("Comment"), g, 16, 218);
    EditComments = new QLineEdit(g);
    EditComments->setGeometry(16, 240, 312, 26);

    Ohmra_RadioGroup = new TOhmraRadioGroup(QStringLiteral("Save Mode"), {QStringLiteral("Tech"), QStringLiteral("Expo")}, g);
    Ohmra_RadioGroup->setGeometry(360, 26, 168, 76);
    Ohmra_RadioGroup->SetItemIndex(0);
    Ohmra_RadioGroup->setToolTip(QStringLiteral("Select data format for save value of resistance"));

    BitBtnSave = new QPushButton(QStringLiteral("&Save"), g);
    BitBtnSave->setToolTip(QStringLiteral("Save data to file"));
    BitBtnSave->setGeometry(360, 182, 168, 30);
    BitBtnExit = new QPushButton(QStringLiteral("&Exit"), g);
    BitBtnExit->setGeometry(360, 238, 168, 30);
    LabelSkipped = MakeLabel(QString(), g, 360, 110, 168, 40);
    LabelSkipped->setWordWrap(true);

    SaveDialog1.Bind(this, QStringLiteral("SaveDialog1"), [this] {
        auto* dialog = new QFileDialog(this, QStringLiteral("Save As"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->setOption(QFileDialog::DontUseNativeDialog, true);
        dialog->setDefaultSuffix(QStringLiteral("CSV"));
        return dialog;
    });
    RunSaveDialog = [](QFileDialog& dlg) {
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().first();
    };

    connect(BitBtnStart, &QPushButton::clicked, this, [this] { BitBtnStartClick(); });
    connect(BitBtnPrevious, &QPushButton::clicked, this, [this] { BitBtnPreviousClick(); });
    connect(BitBtnNext, &QPushButton::clicked, this, [this] { BitBtnNextClick(); });
    connect(BitBtnEnd, &QPushButton::clicked, this, [this] { BitBtnEndClick(); });
    connect(EditComments, &QLineEdit::returnPressed, this, [this] { EditCommentsKeyPress(); });
    connect(BitBtnSave, &QPushButton::clicked, this, [this] { BitBtnSaveClick(); });
    connect(BitBtnExit, &QPushButton::clicked, this, [this] { BitBtnExitClick(); });

    // Controls answer to their member names, so that they can be found the
    // way the handlers name them.
    setObjectName(QStringLiteral("FormOhmraFComment"));
#define OHMRA_NAME(member) member->setObjectName(QStringLiteral(#member))
    OHMRA_NAME(GroupBoxOhmraFileComments);
    OHMRA_NAME(LabelFileNumber_);
    OHMRA_NAME(LabelResistor_);
    OHMRA_NAME(LabelHumidity_);
    OHMRA_NAME(LabelTemperature_);
    OHMRA_NAME(LabelTimer_);
    OHMRA_NAME(LabelAL_);
    OHMRA_NAME(LabelFileNumber);
    OHMRA_NAME(LabelResistor);
    OHMRA_NAME(LabelHumidity);
    OHMRA_NAME(LabelTemperature);
    OHMRA_NAME(LabelTimer);
    OHMRA_NAME(LabelAL);
    OHMRA_NAME(BitBtnStart);
    OHMRA_NAME(BitBtnPrevious);
    OHMRA_NAME(BitBtnNext);
    OHMRA_NAME(BitBtnEnd);
    OHMRA_NAME(LabelComment);
    OHMRA_NAME(EditComments);
    OHMRA_NAME(Ohmra_RadioGroup);
    OHMRA_NAME(BitBtnSave);
    OHMRA_NAME(BitBtnExit);
    OHMRA_NAME(LabelSkipped);
#undef OHMRA_NAME
    SetState(TOhmraCommentState::Hidden);
}

void TFormOhmraFComment::SetState(TOhmraCommentState state)
{
    state_ = state;
    using C = TOhmraCommentControl;
    for (QWidget* w : {static_cast<QWidget*>(BitBtnStart), static_cast<QWidget*>(BitBtnPrevious),
                       static_cast<QWidget*>(BitBtnNext), static_cast<QWidget*>(BitBtnEnd)})
        w->setEnabled(Allowed(C::Navigate));
    EditComments->setEnabled(Allowed(C::Comment));
    Ohmra_RadioGroup->setEnabled(Allowed(C::SaveMode));
    BitBtnSave->setEnabled(Allowed(C::Save));
    BitBtnExit->setEnabled(Allowed(C::Exit));
}

int TFormOhmraFComment::HeldRecord(int from, int step) const
{
    for (int n = from; n >= FirstIndex && n <= LastIndex && n >= 1 && n < kRecords; n += step)
        if (HoldsMeasurement(n))
            return n;
    return -1;
}

void TFormOhmraFComment::BeginBrowsing(int skipped)
{
    LabelSkipped->setText(skipped > 0 ? QStringLiteral("Skipped files: %1 (not read or empty)").arg(skipped)
                                      : QString());
    SetState(TOhmraCommentState::Browsing);
    show();
    setEnabled(true);
    const int first = HeldRecord(FirstIndex, 1);
    CurrentIndex = first >= 0 ? first : FirstIndex;
    LabelFileNumber->setText(QString::number(CurrentIndex));
    EditComments->show();
    ShowRecord();
    EditComments->setFocus();
    EditComments->selectAll();
    raise();
    activateWindow();
}

bool TFormOhmraFComment::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == LabelFileNumber_) {
            LabelFileNumber_Click();
            return true;
        }
        if (watched == GroupBoxOhmraFileComments) {
            // Only the frame itself, not a label a click fell through.
            const auto* me = static_cast<QMouseEvent*>(event);
            if (GroupBoxOhmraFileComments->childAt(me->position().toPoint()) == nullptr) {
                BitBtnEndClick();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFormOhmraFComment::ShowRecord()
{
    CurrentIndex = std::clamp(CurrentIndex, 0, kRecords - 1);
    OhmraFilesStruct& r = OhmraFiles[size_t(CurrentIndex)];
    r.FileNumber = CurrentIndex;
    LabelFileNumber->setText(QString::number(r.FileNumber));
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    LabelResistor->setText(loc.toString(r.Value, 'f', 1) + QLatin1Char(' ') + r.TechnUnit);
    LabelHumidity->setText(QString::number(r.Humidity) + QStringLiteral(" %r/H"));
    LabelTemperature->setText(QString::number(r.Temperature) + QStringLiteral(" \u00B0C"));
    LabelTimer->setText(QString::number(r.Timer) + QStringLiteral(" sec."));
    LabelAL->setText(r.AverageLapse ? QString(QChar::fromLatin1(r.AverageLapse)) : QString());
    EditComments->setText(r.Comment);
    setVisible(true);
    EditComments->setVisible(true);
    if (EditComments->isEnabled() && isEnabled()) {
        // Selected as on entering the field, so that typing replaces the
        // comment shown rather than adding to it.
        EditComments->setFocus();
        EditComments->selectAll();
    }
    Host().ProcessMessages();
}

void TFormOhmraFComment::TakeOverComment()
{
    OhmraFiles[size_t(CurrentIndex)].Comment = EditComments->text();
}

// Every move takes the comment typed along, so that no typed text is lost
// whichever button ends the typing; only files that were read are visited.
void TFormOhmraFComment::BitBtnStartClick()
{
    if (!Allowed(TOhmraCommentControl::Navigate))
        return;
    TakeOverComment();
    const int n = HeldRecord(FirstIndex, 1);
    if (n >= 0)
        CurrentIndex = n;
    ShowRecord();
}

void TFormOhmraFComment::BitBtnEndClick()
{
    if (!Allowed(TOhmraCommentControl::Navigate))
        return;
    TakeOverComment();
    const int n = HeldRecord(LastIndex, -1);
    if (n >= 0)
        CurrentIndex = n;
    ShowRecord();
    Saved = false;
}

void TFormOhmraFComment::BitBtnPreviousClick()
{
    if (!Allowed(TOhmraCommentControl::Navigate))
        return;
    const int n = HeldRecord(CurrentIndex - 1, -1);
    if (n < 0)
        return;
    TakeOverComment();
    CurrentIndex = n;
    ShowRecord();
    Saved = false;
}

void TFormOhmraFComment::BitBtnNextClick()
{
    if (!Allowed(TOhmraCommentControl::Navigate))
        return;
    TakeOverComment();
    const int n = HeldRecord(CurrentIndex + 1, 1);
    if (n >= 0)
        CurrentIndex = n;
    ShowRecord();
    Saved = false;
}

void TFormOhmraFComment::EditCommentsKeyPress() { BitBtnNextClick(); }

void TFormOhmraFComment::LabelFileNumber_Click()
{
    if (!Allowed(TOhmraCommentControl::Comment))
        return;
    for (int n = FirstIndex; n <= LastIndex; ++n)
        if (n >= 0 && n < kRecords)
            OhmraFiles[size_t(n)].Comment.clear();
}

void TFormOhmraFComment::BitBtnSaveClick()
{
    if (!Allowed(TOhmraCommentControl::Save))
        return;
    // The comment typed for the record shown belongs to what is saved.
    TakeOverComment();
    // Record 0 is the measurement window's and keeps the form it was shown in.
    for (int n = 1; n < kRecords; ++n)
        OhmraFiles[size_t(n)].TechnMode = 1;
    SetState(TOhmraCommentState::Saving);
    int32_t r = 0;
    try {
        r = SaveToCsv(false, Ohmra_RadioGroup->ItemIndex());
    } catch (...) {
        SetState(TOhmraCommentState::Browsing);
        throw;
    }
    SetState(TOhmraCommentState::Browsing);
    if (r < 0)
        Prompt().Message(QStringLiteral("Error occured, data not saved ! Error no.: ") + QString::number(r),
                         QStringLiteral("Data error !"), TPromptIcon::Error);
}

bool TFormOhmraFComment::LeaveWindow()
{
    if (!Saved) {
        SetState(TOhmraCommentState::Leaving);
        const bool leave = Prompt().OkCancel(QStringLiteral("File is not saved yet, cancel it anyway?"),
                                             QStringLiteral("Query"), TPromptIcon::Question);
        SetState(TOhmraCommentState::Browsing);
        if (!leave)
            return false;
    }
    SetState(TOhmraCommentState::Hidden);
    hide();
    setEnabled(false);
    if (FormOhmra) {
        FormOhmra->FilesBrowsed();
        FormOhmra->show();
        FormOhmra->setEnabled(true);
        FormOhmra->raise();
        FormOhmra->activateWindow();
    }
    return true;
}

void TFormOhmraFComment::BitBtnExitClick()
{
    if (Allowed(TOhmraCommentControl::Exit))
        LeaveWindow();
}

void TFormOhmraFComment::closeEvent(QCloseEvent* event)
{
    // Closing the window by its frame must not strand the user: the
    // measurement window is hidden while this one is up, and the main window
    // is disabled. It leaves the way Exit does, or not at all.
    FormClose();
    if (isVisible() && (!Allowed(TOhmraCommentControl::Exit) || !LeaveWindow())) {
        event->ignore();
        return;
    }
    event->accept();
}

int32_t TFormOhmraFComment::SaveToCsv(bool single, int saveMode)
{
    const QString folder = OhmraDataDirectory();
    SaveDialog1->setNameFilters({QStringLiteral("Comma-Separated Values (*.CSV)"), QStringLiteral("Text files (*.txt)"),
                                 QStringLiteral("All files (*.*)")});
    SaveDialog1->selectNameFilter(QStringLiteral("Comma-Separated Values (*.CSV)"));
    // A name to keep or change, in the folder this kind of file went to last.
    SaveDialog1->setDirectory(OhmraSaveFolder(single));
    SaveDialog1->selectFile(OhmraSaveName(single, QDate::currentDate()));
    const QString chosen = RunSaveDialog ? RunSaveDialog(*SaveDialog1) : QString();
    if (chosen.isEmpty())
        return kOhmraSaveCancelled;
    UpdateOhmraDataDirectory(folder, chosen);
    RememberOhmraSaveFolder(single, chosen);
    return WriteCsv(chosen, single, saveMode, QDateTime::currentDateTime());
}

#include "gripo/TFormGripo.h"

#include "core/MainLink.h"
#include "core/MainState.h"
#include "gripo/C_Gripo.h"
#include "platform/CsvText.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/TFoCom.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMainWindow>
#include <QPainter>
#include <QDateTime>
#include <QPrintDialog>
#include <QPrinter>
#include <QScopeGuard>
#include <QScreen>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

TFormGripo* FormGripo = nullptr;
C_Gripo* Gripo = nullptr;

namespace {

QFont ArialFont(int points, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(points);
    f.setBold(bold);
    return f;
}

QLineEdit* ResultField(QWidget* parent, int x, int y, int w)
{
    auto* e = new QLineEdit(parent);
    e->setGeometry(x, y, w, 24);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

QLabel* Label(const QString& text, QWidget* parent, int x, int y, int w = 160)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 24);
    return l;
}

// The folder of a chosen file, with its trailing delimiter.
QString FolderOf(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash + 1);
}

// A line height in printer pixels: the font's size in pixels on this printer
// with 40 % leading.
int LineHeight(int points, const QPrinter& printer)
{
    const int px = std::abs(int(std::lround(double(points) * printer.logicalDpiY() / 72.0)));
    return int(px * 1.4);
}

// Text with the top of its line at y, the way the layout's coordinates are meant.
void TextAt(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(x, y + p.fontMetrics().ascent(), text);
}

} // namespace

TFormGripo::TFormGripo(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("FormGripo"));
    setWindowTitle(QStringLiteral("Gripo"));
    setFont(ArialFont(9));
    if (FoCom && FoCom->ComPort1 && !Gripo)
        Gripo = new C_Gripo(*FoCom->ComPort1);

    GroupBoxStatistic = new QGroupBox(QStringLiteral("Statistical analysis"), this);
    GroupBoxStatistic->setGeometry(8, 8, 376, 246);
    GroupBoxResults = new QGroupBox(QStringLiteral("Results"), GroupBoxStatistic);
    GroupBoxResults->setGeometry(10, 22, 356, 212);

    QWidget* r = GroupBoxResults;
    LabelCounter_all = Label(QStringLiteral("Numbers of measurments"), r, 12, 30, 170);
    Counter_all = ResultField(r, 190, 30, 90);
    const int rowY[4] = {72, 106, 140, 174};
    const QString names[4] = {QStringLiteral("HGB <"), QStringLiteral("HGB >"), QStringLiteral("Shoe <"),
                              QStringLiteral("Shoe >")};
    QLabel** labels[4] = {&LabelHGB_L, &LabelHGB_H, &LabelShoe_L, &LabelShoe_H};
    QLineEdit** counts[4] = {&Counter_HGB_L, &Counter_HGB_H, &Counter_Shoe_L, &Counter_Shoe_H};
    QLineEdit** shares[4] = {&Counter_HGB_L_P, &Counter_HGB_H_P, &Counter_Shoe_L_P, &Counter_Shoe_H_P};
    for (int i = 0; i < 4; ++i) {
        *labels[i] = Label(names[i], r, 12, rowY[i], 60);
        *counts[i] = ResultField(r, 76, rowY[i], 90);
        Label(QStringLiteral("="), r, 174, rowY[i], 12);
        *shares[i] = ResultField(r, 190, rowY[i], 90);
    }

    CheckBoxDeleteStatisticData = new QCheckBox(QStringLiteral("Delete statistic all data after transfer? "), this);
    CheckBoxDeleteStatisticData->setGeometry(18, 262, 360, 24);

    BitBtn_Start = new QPushButton(QStringLiteral("Start data Transfer"), this);
    BitBtn_Start->setGeometry(18, 294, 174, 34);
    BitBtn_Start->setToolTip(QStringLiteral("Start data transfer from Gripo to PC"));
    BitBtn_Cancel = new QPushButton(QStringLiteral("E&xit"), this);
    BitBtn_Cancel->setGeometry(200, 294, 174, 34);
    BitBtn_Cancel->setToolTip(QStringLiteral("Abort action !"));
    BitBtnSaveData = new QPushButton(QStringLiteral("Save data"), this);
    BitBtnSaveData->setGeometry(18, 336, 174, 34);
    BitBtnSaveData->setToolTip(QStringLiteral("Save data to drive"));
    BitBtnPrintData = new QPushButton(QStringLiteral("Print data"), this);
    BitBtnPrintData->setGeometry(200, 336, 174, 34);

    LabelComment = new QLabel(QStringLiteral("Comment"), this);
    LabelComment->setGeometry(18, 384, 120, 20);
    LabelComment->setEnabled(false);
    EditComment = new QLineEdit(this);
    EditComment->setGeometry(18, 406, 356, 26);
    EditComment->setVisible(false);
    LabelTransfer = new QLabel(this);
    LabelTransfer->setGeometry(18, 440, 356, 44);
    LabelTransfer->setWordWrap(true);
    LabelTransfer->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));

    SaveDialogGripo.Bind(this, QStringLiteral("SaveDialogGripo"), [this] {
        auto* dialog = new QFileDialog(this);
        dialog->setOption(QFileDialog::DontUseNativeDialog, true);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // Every save appends to the file it is given; nothing is overwritten.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        return dialog;
    });

    connect(BitBtn_Start, &QPushButton::clicked, this, [this] { BitBtn_StartClick(); });
    connect(BitBtnSaveData, &QPushButton::clicked, this, [this] { BitBtnSaveDataClick(); });
    connect(BitBtnPrintData, &QPushButton::clicked, this, [this] { BitBtnPrintDataClick(); });
    connect(BitBtn_Cancel, &QPushButton::clicked, this, [this] { BitBtn_CancelClick(); });

    FormCreate();

    // Scripts and GUI drivers find the controls by their member names; each
    // "=" answers to "Label" and the name of the percentage it stands before
    // ("LabelCounter_HGB_L_P").
#define GRIPO_NAME(member) member->setObjectName(QStringLiteral(#member))
    GRIPO_NAME(GroupBoxStatistic);
    GRIPO_NAME(GroupBoxResults);
    GRIPO_NAME(LabelCounter_all);
    GRIPO_NAME(Counter_all);
    GRIPO_NAME(LabelHGB_L);
    GRIPO_NAME(Counter_HGB_L);
    GRIPO_NAME(Counter_HGB_L_P);
    GRIPO_NAME(LabelHGB_H);
    GRIPO_NAME(Counter_HGB_H);
    GRIPO_NAME(Counter_HGB_H_P);
    GRIPO_NAME(LabelShoe_L);
    GRIPO_NAME(Counter_Shoe_L);
    GRIPO_NAME(Counter_Shoe_L_P);
    GRIPO_NAME(LabelShoe_H);
    GRIPO_NAME(Counter_Shoe_H);
    GRIPO_NAME(Counter_Shoe_H_P);
    GRIPO_NAME(CheckBoxDeleteStatisticData);
    GRIPO_NAME(BitBtn_Start);
    GRIPO_NAME(BitBtn_Cancel);
    GRIPO_NAME(BitBtnSaveData);
    GRIPO_NAME(BitBtnPrintData);
    GRIPO_NAME(LabelComment);
    GRIPO_NAME(EditComment);
    GRIPO_NAME(LabelTransfer);
#undef GRIPO_NAME
    {
        const QLineEdit* shares[4] = {Counter_HGB_L_P, Counter_HGB_H_P, Counter_Shoe_L_P, Counter_Shoe_H_P};
        int i = 0;
        for (QLabel* l : GroupBoxResults->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            if (l->text() == QLatin1String("=") && i < 4)
                l->setObjectName(QStringLiteral("Label") + shares[i++]->objectName());
    }
}

TFormGripo::~TFormGripo()
{
    delete PrintDialogGripo;
    delete printer_;
    if (FormGripo == this) {
        FormGripo = nullptr;
        delete Gripo;
        Gripo = nullptr;
    }
}

void TFormGripo::FormCreate()
{
    setFixedSize(392, 495);
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect g = s->geometry();
        move((g.width() - width()) / 2, (g.height() - height()) / 2 + 20);
    }
    ApplyState(TGripoState::Idle);
}

std::array<QLineEdit*, 9> TFormGripo::ResultFields() const
{
    return {Counter_all,     Counter_HGB_L,   Counter_HGB_H,  Counter_Shoe_L, Counter_Shoe_H,
            Counter_HGB_L_P, Counter_HGB_H_P, Counter_Shoe_L_P, Counter_Shoe_H_P};
}

void TFormGripo::ApplyState(TGripoState state)
{
    state_ = state;
    const TGripoControls c = GripoControls(state);
    BitBtn_Start->setEnabled(c.Start);
    BitBtn_Cancel->setEnabled(c.Exit);
    CheckBoxDeleteStatisticData->setEnabled(c.DeleteBox);
    BitBtnSaveData->setEnabled(c.Save);
    BitBtnPrintData->setEnabled(c.Print);
    LabelComment->setEnabled(c.CommentLabel);
    EditComment->setVisible(c.CommentShown);
    EditComment->setEnabled(c.CommentEnabled);
    for (QLineEdit* e : ResultFields())
        e->setEnabled(c.Results);
    if (state != TGripoState::Failed)
        LabelTransfer->clear();
}

void TFormGripo::TransferFailed(const QString& why)
{
    // Counts of an earlier transfer left standing would be taken for the
    // result of this one.
    for (QLineEdit* e : ResultFields())
        e->clear();
    ApplyState(TGripoState::Failed);
    LabelTransfer->setText(QStringLiteral("Transfer failed: ") + why);
}

void TFormGripo::LeaveIfAsked()
{
    if (!exitPending_ || GripoBusy(state_))
        return;
    exitPending_ = false;
    CloseHandling();
}

void TFormGripo::BitBtn_StartClick()
{
    // A click that reached the window while it was busy (through a dialog's
    // message processing) must never put a second exchange on the line.
    if (!GripoAllows(state_, TGripoAction::Start))
        return;
    ApplyState(TGripoState::Transferring);
    bool clear = false;
    if (CheckBoxDeleteStatisticData->isChecked()) {
        clear = true;
        if (Prompt().Ask(QStringLiteral("Are you sure !"), QStringLiteral("Delete statistic data memory !"),
                         TPromptButtons::OkCancel, TPromptIcon::Exclamation) != TPromptResult::Ok) {
            CheckBoxDeleteStatisticData->setChecked(false);
            clear = false;
        }
    }

    int32_t r = C_Gripo::Ok;
    try {
        r = Gripo->ReadStatistics(clear);
    } catch (const std::exception& e) {
        // The framework shows the port's message; the window says the
        // transfer failed and is ready for the next try.
        TransferFailed(QString::fromLocal8Bit(e.what()));
        LeaveIfAsked();
        throw;
    } catch (...) {
        TransferFailed(QStringLiteral("Unknown error"));
        LeaveIfAsked();
        throw;
    }
    if (r == C_Gripo::Cancelled) {
        // Nothing was read; the counts still standing are greyed and cannot be saved.
        ApplyState(TGripoState::Idle);
    } else if (r != C_Gripo::Ok) {
        TransferFailed(r == C_Gripo::ChecksumWrong ? QStringLiteral("the checksum of the reply is wrong")
                                                   : QStringLiteral("the tester did not confirm the reply"));
    } else {
        // The tester counts the statistics read itself as a measurement. The
        // percentages stay as the tester's numbers give them.
        if (Gripo->Count_all > 0)
            --Gripo->Count_all;
        ShowRecord();
        ApplyState(TGripoState::Shown);
        EditComment->setFocus();
    }
    LeaveIfAsked();
}

void TFormGripo::ShowRecord()
{
    Counter_all->setText(QString::number(Gripo->Count_all));
    Counter_HGB_L->setText(QString::number(Gripo->Count_HGB_L));
    Counter_HGB_H->setText(QString::number(Gripo->Count_HGB_H));
    Counter_Shoe_L->setText(QString::number(Gripo->Count_Shoe_L));
    Counter_Shoe_H->setText(QString::number(Gripo->Count_Shoe_H));
    const QString pct = QStringLiteral("%");
    Counter_HGB_L_P->setText(C_Gripo::PercentText(Gripo->Percent_HGB_L) + pct);
    Counter_HGB_H_P->setText(C_Gripo::PercentText(Gripo->Percent_HGB_H) + pct);
    Counter_Shoe_L_P->setText(C_Gripo::PercentText(Gripo->Percent_Shoe_L) + pct);
    Counter_Shoe_H_P->setText(C_Gripo::PercentText(Gripo->Percent_Shoe_H) + pct);
}

void TFormGripo::BitBtnSaveDataClick()
{
    // Only the counts of the last completed transfer are ever written, and
    // no transfer may change them while the dialog is open.
    if (!GripoAllows(state_, TGripoAction::Save))
        return;
    ApplyState(TGripoState::Saving);
    const auto done = qScopeGuard([this] {
        ApplyState(TGripoState::Shown);
        LeaveIfAsked();
    });
    TIniFile ini(SetupIniPath());
    const QString dir = QString::fromStdString(ini.ReadString("Gripo", "DataDirectory", HomeDirectory()));
    // Offered like the program's other exports: the device and the day, in
    // the folder used last for these files (the home folder while that is gone).
    const QString offered = QFileInfo(dir).isDir() ? dir : QString::fromStdString(HomeDirectory());
    SaveDialogGripo->setDirectory(offered);
    SaveDialogGripo->setDefaultSuffix(QStringLiteral("CSV"));
    SaveDialogGripo->setNameFilters({QStringLiteral("Comma-Separated Values (*.CSV)"),
                                     QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*.*)")});
    SaveDialogGripo->selectNameFilter(QStringLiteral("Comma-Separated Values (*.CSV)"));
    SaveDialogGripo->selectFile(QStringLiteral("Gripo_") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                                QStringLiteral(".csv"));
    if (SaveDialogGripo->exec() != QDialog::Accepted || SaveDialogGripo->selectedFiles().isEmpty())
        return;
    const QString name = SaveDialogGripo->selectedFiles().front();
    const QString folder = FolderOf(name);
    if (folder != dir)
        ini.WriteString("Gripo", "DataDirectory", folder.toStdString());
    SaveStatistics(name);
}

int TFormGripo::SaveStatistics(const QString& fileName)
{
    const QDateTime now = QDateTime::currentDateTime();
    Gripo->Comment = EditComment->text();
    const QString line = Gripo->CsvLine(now) + QStringLiteral("\r\n");
    QApplication::processEvents();
    return ReportCsvAppend(AppendCsv(fileName, {C_Gripo::CsvHeader() + QStringLiteral("\r\n")}, {line}), fileName);
}

void TFormGripo::BitBtnPrintDataClick()
{
    if (!GripoAllows(state_, TGripoAction::Print))
        return;
    ApplyState(TGripoState::Printing);
    const auto done = qScopeGuard([this] {
        ApplyState(TGripoState::Shown);
        LeaveIfAsked();
    });
    Gripo->Comment = EditComment->text();
    if (!PrintDialogGripo) {
        printer_ = new QPrinter(QPrinter::HighResolution);
        PrintDialogGripo = new QPrintDialog(printer_, this);
        PrintDialogGripo->setObjectName(QStringLiteral("PrintDialogGripo"));
    }
    // "Print to file" offers the window and the moment, not "print.pdf".
    printer_->setOutputFileName(QString());
    printer_->setDocName(QStringLiteral("Gripo_Statistics_") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    if (PrintDialogGripo->exec() != QDialog::Accepted)
        return;
    printer_->setResolution(PrintResolution);
    if (!PrintStatistics(*printer_, *Gripo))
        Prompt().Message(QStringLiteral("The printer could not be started."), QStringLiteral("Error"),
                         TPromptIcon::Error);
}

bool TFormGripo::PrintStatistics(QPrinter& printer, const C_Gripo& data)
{
    int lh = LineHeight(14, printer);
    int linesPerPage = printer.height() / lh - 4;
    int row = 6;
    printer.setDocName(QStringLiteral("Print out statistic data"));
    QPainter p;
    if (!p.begin(&printer))
        return false;
    p.setFont(ArialFont(14));
    TextAt(p, 400, 2 * lh, QStringLiteral("Gripo Print out statistic data."));
    TextAt(p, 400, 3 * lh,
           QStringLiteral("Date : ") + QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));

    p.setFont(ArialFont(10));
    lh = LineHeight(10, printer);
    linesPerPage = printer.height() / lh - 4;
    // A page too short for the body goes on to the next one at row 4
    // (the body never starts a page of its own on paper of usual size).
    const auto nextRow = [&] {
        if (row >= linesPerPage) {
            printer.newPage();
            row = 4;
        }
        return row++ * lh;
    };
    for (const C_Gripo::PrintRow& r : data.PrintRows()) {
        const int y = nextRow();
        TextAt(p, 400, y, r.left);
        if (!r.right.isEmpty())
            TextAt(p, 1000, y, r.right);
    }
    ++row;
    TextAt(p, 400, nextRow(), QStringLiteral("Comment : ") + data.Comment);
    return p.end();
}

void TFormGripo::BitBtn_CancelClick()
{
    if (!GripoAllows(state_, TGripoAction::Exit)) {
        exitPending_ = true;
        return;
    }
    CloseHandling();
}

void TFormGripo::FormClose() { BitBtn_CancelClick(); }

void TFormGripo::closeEvent(QCloseEvent* event)
{
    FormClose();
    // While busy the window stays until the running action has ended.
    if (isVisible())
        event->ignore();
    else
        event->accept();
}

void TFormGripo::CloseHandling()
{
    exitPending_ = false;
    BitBtnPrintData->setEnabled(false);
    BitBtnSaveData->setEnabled(false);
    hide();
    if (MainState)
        MainState->StopFlag = true;
    CallHook(MainLink().ReturnToMain);
    LabelComment->setEnabled(false);
    EditComment->setVisible(false);
    EditComment->clear();
    CallHook(MainLink().CloseDisplay);
    if (FoCom && FoCom->ComPort1)
        FoCom->ComPort1->Close();
    CallHook(MainLink().RaiseMain);
    for (QLineEdit* e : ResultFields())
        e->clear();
    // The next opening starts with nothing to save and every idle control usable.
    ApplyState(TGripoState::Idle);
}

#include "cpm/TFormReadCPMFiles.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

TFormReadCPMFiles* FormReadCPMFiles = nullptr;

TFormReadCPMFiles::TFormReadCPMFiles(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("CHARGE-PLATE Monitor"));

    GroupBoxRangeFileNumber = new QGroupBox(QStringLiteral("File number range"), this);
    LabelRangeFileNumber = new QLabel(QStringLiteral("Reading file number from "), GroupBoxRangeFileNumber);
    MaskEditStart = new QLineEdit(GroupBoxRangeFileNumber);
    Label1 = new QLabel(QStringLiteral("   to"), GroupBoxRangeFileNumber);
    MaskEditStopp = new QLineEdit(GroupBoxRangeFileNumber);
    for (QLineEdit* e : {MaskEditStart, MaskEditStopp}) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), e));
        e->setMaxLength(2);
        e->setFixedWidth(40);
    }

    GroupBoxInputComment = new QGroupBox(QStringLiteral("Input comments to file numbers"), GroupBoxRangeFileNumber);
    Label3 = new QLabel(QStringLiteral("File Number :"), GroupBoxInputComment);
    LabelFileNumberActuell = new QLabel(QStringLiteral("0"), GroupBoxInputComment);
    Label4 = new QLabel(QStringLiteral("from"), GroupBoxInputComment);
    LabelFileNumberMax = new QLabel(QStringLiteral("0"), GroupBoxInputComment);
    TextCommentFile = new QLineEdit(GroupBoxInputComment);
    TextCommentFile->setMinimumWidth(360);
    CheckBoxSameComment = new QCheckBox(QStringLiteral("same comment for the remaining files"), GroupBoxInputComment);

    BitBtnOK = new QPushButton(QStringLiteral("OK"), GroupBoxRangeFileNumber);
    BitBtnAbort = new QPushButton(QStringLiteral("Abort"), GroupBoxRangeFileNumber);

    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(LabelRangeFileNumber);
    rangeRow->addWidget(MaskEditStart);
    rangeRow->addWidget(Label1);
    rangeRow->addWidget(MaskEditStopp);
    rangeRow->addStretch(1);

    auto* commentLayout = new QGridLayout(GroupBoxInputComment);
    auto* numberRow = new QHBoxLayout;
    numberRow->addWidget(Label3);
    numberRow->addWidget(LabelFileNumberActuell);
    numberRow->addWidget(Label4);
    numberRow->addWidget(LabelFileNumberMax);
    numberRow->addStretch(1);
    commentLayout->addLayout(numberRow, 0, 0);
    commentLayout->addWidget(TextCommentFile, 1, 0);
    commentLayout->addWidget(CheckBoxSameComment, 2, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtnOK);
    buttons->addWidget(BitBtnAbort);

    auto* group = new QVBoxLayout(GroupBoxRangeFileNumber);
    group->addLayout(rangeRow);
    group->addWidget(GroupBoxInputComment);
    group->addLayout(buttons);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(GroupBoxRangeFileNumber);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    // Controls answer to their member names, so that they can be found the
    // way the handlers name them.
    setObjectName(QStringLiteral("FormReadCPMFiles"));
#define CPM_NAME(member) member->setObjectName(QStringLiteral(#member))
    CPM_NAME(GroupBoxRangeFileNumber);
    CPM_NAME(LabelRangeFileNumber);
    CPM_NAME(MaskEditStart);
    CPM_NAME(Label1);
    CPM_NAME(MaskEditStopp);
    CPM_NAME(GroupBoxInputComment);
    CPM_NAME(Label3);
    CPM_NAME(LabelFileNumberActuell);
    CPM_NAME(Label4);
    CPM_NAME(LabelFileNumberMax);
    CPM_NAME(TextCommentFile);
    CPM_NAME(CheckBoxSameComment);
    CPM_NAME(BitBtnOK);
    CPM_NAME(BitBtnAbort);
#undef CPM_NAME

    connect(BitBtnOK, &QPushButton::clicked, this, [this] { BitBtnOKClick(); });
    connect(BitBtnAbort, &QPushButton::clicked, this, [this] { BitBtnAbortClick(); });
    connect(TextCommentFile, &QLineEdit::returnPressed, this, [this] { BitBtnOKClick(); });
    MaskEditStart->installEventFilter(this);

    GroupBoxRangeFileNumber->setVisible(false);
    GroupBoxInputComment->setVisible(false);
}

void TFormReadCPMFiles::SetState(TCpmFilesDialogState state)
{
    state_ = state;
    const bool range = state == TCpmFilesDialogState::AskingRange;
    const bool comment = state == TCpmFilesDialogState::AskingComment;
    GroupBoxRangeFileNumber->setVisible(range || comment);
    for (QWidget* w : {static_cast<QWidget*>(LabelRangeFileNumber), static_cast<QWidget*>(Label1),
                       static_cast<QWidget*>(MaskEditStart), static_cast<QWidget*>(MaskEditStopp)})
        w->setVisible(range);
    GroupBoxInputComment->setVisible(comment);
    if (state == TCpmFilesDialogState::Hidden) {
        hide();
        return;
    }
    FitToContents();
    show();
    raise();
}

// An answer counts only while a question is open.
void TFormReadCPMFiles::BitBtnOKClick()
{
    if (state_ != TCpmFilesDialogState::Hidden)
        OKFlag = true;
}
void TFormReadCPMFiles::BitBtnAbortClick()
{
    if (state_ != TCpmFilesDialogState::Hidden)
        AbortFlag = true;
}

void TFormReadCPMFiles::MaskEditStartKeyUp(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        MaskEditStopp->setFocus();
}

int TFormReadCPMFiles::FieldNumber(const QLineEdit* edit)
{
    bool ok = false;
    const int v = edit->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

void TFormReadCPMFiles::FitToContents()
{
    // Shrinks again after the comment step, when the next read-out asks for a range.
    for (QWidget* w : {static_cast<QWidget*>(GroupBoxInputComment), static_cast<QWidget*>(GroupBoxRangeFileNumber)})
        if (w->layout())
            w->layout()->invalidate();
    if (layout()) {
        layout()->invalidate();
        layout()->activate();
    }
    adjustSize();
}

bool TFormReadCPMFiles::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MaskEditStart && event->type() == QEvent::KeyRelease)
        MaskEditStartKeyUp(static_cast<QKeyEvent*>(event)->key());
    return QWidget::eventFilter(watched, event);
}

void TFormReadCPMFiles::closeEvent(QCloseEvent* e)
{
    // No close button; a close from elsewhere (the window manager) is an Abort.
    AbortFlag = true;
    e->accept();
}

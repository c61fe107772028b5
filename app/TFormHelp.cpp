#include "app/TFormHelp.h"
#include "acquisition/TChart.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QShowEvent>
#include <QPalette>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <cmath>

TFormHelp* FormHelp = nullptr;

const char* const TFormHelp::HelpText =
    "- First click on Device than select Type, Mode and Range.\r\n"
    "- Start by click on View and Chart or Display.\r\n"
    "- For Karvo or Ohmra operating mode set the used \r\n"
    "  COM Port number over menue point Setup->Com Port at first !";

namespace {

QFont ArialPx(int px, bool bold = false)
{
    QFont f("Arial");
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// The memos break lines at "\n"; the texts carry "\r\n".
QString ForMemo(const QString& text)
{
    QString t = text;
    return t.replace("\r\n", "\n");
}

constexpr int kDesignWidth = 642;
constexpr int kDesignHeight = 527;

} // namespace

TFormHelp::TFormHelp(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setObjectName("FormHelp");
    setWindowTitle("Info");
    setFont(ArialPx(16));
    // The design's outer size less its frame: just the two group boxes.
    resize(626, 489);

    Help_GroupBox1 = new QGroupBox("Short help", this);
    Help_GroupBox1->setObjectName("Help_GroupBox1");
    Help_GroupBox1->setGeometry(0, 0, 626, 265);

    HelpMemo = new QPlainTextEdit(Help_GroupBox1);
    HelpMemo->setObjectName("HelpMemo");
    HelpMemo->setGeometry(3, 56, 618, 121);
    HelpMemo->setFont(ArialPx(19, true));
    HelpMemo->setReadOnly(true);
    HelpMemo->setEnabled(false);
    // Disabled keeps the text out of reach of focus and the keyboard, but the
    // style would grey it out; it is the window's message, so it is drawn in
    // the normal text colours.
    {
        QPalette pal = HelpMemo->palette();
        for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::Base,
                                               QPalette::Window, QPalette::Highlight, QPalette::HighlightedText})
            pal.setColor(QPalette::Disabled, role, pal.color(QPalette::Active, role));
        HelpMemo->setPalette(pal);
    }

    HelpOKButton = new QPushButton("OK", Help_GroupBox1);
    HelpOKButton->setObjectName("HelpOKButton");
    HelpOKButton->setGeometry(192, 200, 217, 49);
    HelpOKButton->setFont(ArialPx(24));
    connect(HelpOKButton, &QPushButton::clicked, this, [this] { HelpOKButtonClick(); });

    GroupBox1 = new QGroupBox("Version info", this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(3, 272, 620, 217);

    MemoVersions = new QPlainTextEdit(GroupBox1);
    MemoVersions->setObjectName("MemoVersions");
    MemoVersions->setGeometry(8, 24, 601, 177);
    MemoVersions->setFont(ArialPx(16));
    MemoVersions->setReadOnly(true);
    MemoVersions->setLineWrapMode(QPlainTextEdit::NoWrap);
    // One tab stop past the longest label, so the values line up whatever
    // font stands in for Arial.
    const QFontMetrics fm(MemoVersions->font());
    int widest = 0;
    for (const char* label : {"Product name", "Company name   ", "Department     ", "Author         ", "File version",
                              "Product version", "File size      ", "Created        ", "Last write     ",
                              "Last access     ", "Settings read  ", "Settings saved "})
        widest = std::max(widest, fm.horizontalAdvance(QString::fromLatin1(label)));
    MemoVersions->setTabStopDistance(widest + fm.averageCharWidth());

    // Centred on the screen, halves truncated.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - kDesignWidth) / 2, s.top() + (s.height() - kDesignHeight) / 2);
    }
}

void TFormHelp::FillHelp()
{
    HelpMemo->setPlainText(ForMemo(QString::fromLatin1(HelpText)));
    MemoVersions->clear();
    TFileInfo info;
    MemoVersions->appendPlainText(ForMemo(GetVersionInfo(info) + SettingsFilesText()));
    // Adding scrolls to the end; the product name is what to see first.
    MemoVersions->moveCursor(QTextCursor::Start);
    FitToText();
}

namespace {

// The size a read-only memo needs to show `text` without scrolling.
QSize MemoTextSize(const QPlainTextEdit* memo)
{
    const QFontMetrics fm(memo->font());
    const QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, fm.horizontalAdvance(line, QTextOption(memo->document()->defaultTextOption())));
    const int frame = 2 * memo->frameWidth();
    const int margin = 2 * int(std::ceil(memo->document()->documentMargin()));
    // One spare line height: the last line's descent and the caret's room.
    return {width + frame + margin + fm.averageCharWidth(),
            int(lines.size() + 1) * fm.lineSpacing() + frame + margin};
}

} // namespace

void TFormHelp::FitToText()
{
    const QSize help = MemoTextSize(HelpMemo);
    const QSize versions = MemoTextSize(MemoVersions);
    const int growHelpH = std::max(0, help.height() - 121);
    const int growVersionsH = std::max(0, versions.height() - 177);
    const int growW = std::max({0, help.width() - 618, versions.width() - 601});

    HelpMemo->setGeometry(3, 56, 618 + growW, 121 + growHelpH);
    HelpOKButton->move(192 + growW / 2, 200 + growHelpH);
    Help_GroupBox1->setGeometry(0, 0, 626 + growW, 265 + growHelpH);
    GroupBox1->setGeometry(3, 272 + growHelpH, 620 + growW, 217 + growVersionsH);
    MemoVersions->setGeometry(8, 24, 601 + growW, 177 + growVersionsH);
    resize(626 + growW, 489 + growHelpH + growVersionsH);
}

void TFormHelp::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    activateWindow();
    HelpOKButton->setFocus(Qt::OtherFocusReason);
}

void TFormHelp::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && isVisible()) {
        HelpOKButtonClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString TFormHelp::SettingsFilesText()
{
    const std::string read = SetupUlmaroIniPath();
    const QString readText = QFileInfo::exists(QString::fromStdString(read))
                                 ? QString::fromStdString(read)
                                 : QStringLiteral("none found, defaults apply");
    return QStringLiteral("Settings read  \t") + readText + QStringLiteral("\r\n") +
           QStringLiteral("Settings saved \t") + QString::fromStdString(SetupIniPath()) + QStringLiteral("\r\n");
}

QString TFormHelp::GetVersionInfo(TFileInfo& FileInfo)
{
    return QString::fromStdString(::GetVersionInfo(FileInfo));
}

void TFormHelp::HelpOKButtonClick()
{
    setEnabled(false);
    hide();
    if (!MainForm)
        return;
    MainForm->Setup->menuAction()->setEnabled(true);
    // The chart view holds the selection menus until its own Exit: enabled
    // here, they would let a range change or the display window's loop start
    // under a running chart loop.
    if (!MainForm->Chart1->isHidden())
        return;
    MainForm->Device->menuAction()->setEnabled(true);
    if (MainForm->RangeSelected)
        MainForm->View->menuAction()->setEnabled(true);
}

void TFormHelp::closeEvent(QCloseEvent* event)
{
    if (isVisible())
        HelpOKButtonClick();
    event->accept();
}

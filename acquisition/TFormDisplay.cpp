#include "acquisition/TFormDisplay.h"

#include "acquisition/AcquisitionStart.h"
#include "acquisition/DisplayLoop.h"
#include "acquisition/NumberFormat.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "core/MainLink.h"
#include "core/MainState.h"
#include "platform/Host.h"
#include "serial/TFoCom.h"
#include "widgets/Fonts.h"
#include "widgets/ValueBoxes.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTextOption>

#include <algorithm>

TFormDisplay* FormDisplay = nullptr;

namespace {

// The labels and status memo of the display as its loop sees them.
class TDisplayWindowView : public IDisplayView {
public:
    explicit TDisplayWindowView(TFormDisplay& f) : f_(f) {}
    void SetValue(const QString& t, int pt) override { Set(f_.LabelMesswert, t, pt); }
    void SetPosMax(const QString& t, int pt) override { Set(f_.LabelPosMaximum_Value, t, pt); }
    void SetNegMax(const QString& t, int pt) override { Set(f_.LabelNegMaximum_Value, t, pt); }
    void SetStatus(const QString& t) override { f_.SetStatusText(t); }
    void RepaintMainWindow() override { CallHook(MainLink().RepaintMain); }

private:
    static void Set(QLabel* l, const QString& t, int pt)
    {
        if (pt)
            ::SetFontPoints(l, pt);
        if (l->text() != t)
            l->setText(t);
    }
    TFormDisplay& f_;
};

} // namespace

TFormDisplay::TFormDisplay(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormDisplay"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setSizeGripEnabled(true);
    resize(988, 668);

    GroupBoxSpannung = new QGroupBox(this);
    GroupBoxSpannung->setGeometry(8, 8, 961, 361);
    GroupBoxSpannung->setFont(Arial(27, 0, true));

    LabelMesswert = new TFitLabel(GroupBoxSpannung);
    LabelMesswert->setGeometry(16, 79, 921, 223);
    LabelMesswert->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelMesswert->setFont(Arial(0, DisplayFonts::Value));

    Memo_Status = new QPlainTextEdit(GroupBoxSpannung);
    Memo_Status->setReadOnly(true);
    Memo_Status->setFont(Arial(13));
    Memo_Status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo_Status->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo_Status->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_Status->document()->setDocumentMargin(1);
    Memo_Status->setFocusPolicy(Qt::NoFocus);

    Error_1 = MakeErrorBox(GroupBoxSpannung,
                           QStringLiteral("Error occurred :\n\nUSB ADC device not found !\nProgram aborted"));

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(8, 376, 961, 257);

    auto button = [this](const char* text, int y) {
        auto* b = new QPushButton(QString::fromUtf8(text), GroupBox1);
        b->setGeometry(400, y, 150, 49);
        b->setFont(Arial(21));
        return b;
    };
    b_Start = button("&Start", 24);
    b_Stop = button("&Break", 80);
    b_Reset = button("&Reset", 136);
    bCancel = button("E&xit", 192);

    auto maximum = [this](int x, QLabel*& value) {
        auto* g = new QGroupBox(GroupBox1);
        g->setGeometry(x, 48, 335, 160);
        g->setFont(Arial(27, 0, true));
        value = new TFitLabel(g);
        value->setGeometry(8, 40, 319, 112);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFont(Arial(0, DisplayFonts::MaximumReset, false, true));
        return g;
    };
    GroupBoxNegMaximum = maximum(16, LabelNegMaximum_Value);
    GroupBoxPosMaximum = maximum(608, LabelPosMaximum_Value);

    connect(b_Start, &QPushButton::clicked, this, [this] { b_StartClick(); });
    connect(b_Stop, &QPushButton::clicked, this, [this] { b_StopClick(); });
    connect(b_Reset, &QPushButton::clicked, this, [this] { b_ResetClick(); });
    connect(bCancel, &QPushButton::clicked, this, [this] { bCancelClick(); });

    // Construction state.
    LabelMesswert->setText({});
    GroupBoxSpannung->setTitle({});
    GroupBoxNegMaximum->setTitle(QStringLiteral("neg. maximum"));
    GroupBoxPosMaximum->setTitle(QStringLiteral("pos. maximum"));
    LabelNegMaximum_Value->setText(FormatValue(0, 1)); // the locale's decimal separator
    LabelPosMaximum_Value->setText(FormatValue(0, 1));
    Memo_Status->setGeometry(850, 328, 100, 25);
    SetStatusText(QStringLiteral("STOP"));

    // Scripts and GUI drivers find the controls by their member names.
#define DISPLAY_NAME(member) member->setObjectName(QStringLiteral(#member))
    DISPLAY_NAME(GroupBoxSpannung);
    DISPLAY_NAME(LabelMesswert);
    DISPLAY_NAME(Memo_Status);
    DISPLAY_NAME(Error_1);
    DISPLAY_NAME(GroupBox1);
    DISPLAY_NAME(b_Start);
    DISPLAY_NAME(b_Stop);
    DISPLAY_NAME(b_Reset);
    DISPLAY_NAME(bCancel);
    DISPLAY_NAME(GroupBoxNegMaximum);
    DISPLAY_NAME(LabelNegMaximum_Value);
    DISPLAY_NAME(GroupBoxPosMaximum);
    DISPLAY_NAME(LabelPosMaximum_Value);
#undef DISPLAY_NAME

    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect g = s->geometry();
        move((g.width() - width()) / 2, (g.height() - height()) / 2 + 20);
    }
}

void TFormDisplay::SetStatusText(const QString& text)
{
    if (Memo_Status->toPlainText() != text)
        Memo_Status->setPlainText(text);
    QTextOption o = Memo_Status->document()->defaultTextOption();
    o.setAlignment(Qt::AlignCenter);
    Memo_Status->document()->setDefaultTextOption(o);
}

QFont TFormDisplay::FontToFit(const QFont& font, const QString& text, int width)
{
    return ::FontToFit(font, text, width);
}

QString TFormDisplay::StatusText() const { return Memo_Status->toPlainText(); }

void TFormDisplay::SetFontPoints(QLabel* label, int points) { ::SetFontPoints(label, points); }

void TFormDisplay::b_StartClick()
{
    TMainState& m = *MainState;
    m.StopFlag = false;
    b_Start->setEnabled(false);

    TUsbSampleSource usb(Usb);
    TDeviceSampleSource source(usb, SerialSources().Display);
    TDisplayWindowView view(*this);
    TDisplayLoop loop(m, view, source);
    TAcquisitionWindow w;
    w.ShowConverterError = [this] {
        Error_1->setVisible(true);
        Error_1->raise();
        repaint();
    };
    w.BeforeLoop = [this](int deviceCode) {
        // Only the converter's run widens the status memo.
        if (deviceCode < 100)
            Memo_Status->setGeometry(725, 328, 230, 25);
    };
    w.RunLoop = [&](const QString& unit) { loop.Run(m.DeviceTitle, m.DeviceCode, m.RangeCode, unit); };
    try {
        RunAcquisition(m, source, w);
    } catch (...) {
        // The monitor's error (a time-out, a lost line) has ended the loop:
        // the window is idle as after Break, and Start can try again once
        // the line is back, instead of waiting for a Break nobody needs.
        ShowStopped();
        throw;
    }
    // However the loop ended, nothing runs now.
    b_Start->setEnabled(true);
}

void TFormDisplay::ShowStopped()
{
    Memo_Status->setGeometry(1000, 328, 85, 25);
    SetStatusText(QStringLiteral("STOP"));
    b_Start->setEnabled(true);
}

void TFormDisplay::b_StopClick()
{
    MainState->StopFlag = true;
    ShowStopped();
}

void TFormDisplay::b_ResetClick()
{
    TMainState& m = *MainState;
    m.ResetExtremes();
    const QString zero = QStringLiteral("0") + m.UnitText;
    SetFontPoints(LabelNegMaximum_Value, DisplayFonts::MaximumReset);
    LabelNegMaximum_Value->setText(zero);
    SetFontPoints(LabelPosMaximum_Value, DisplayFonts::MaximumReset);
    LabelPosMaximum_Value->setText(zero);
    LabelMesswert->setText(zero);
    CallHook(MainLink().RepaintMain);
    Host().ProcessMessages();
}

void TFormDisplay::bCancelClick() { FormClose(); }

void TFormDisplay::FormClose()
{
    TMainState& m = *MainState;
    m.StopFlag = true;
    CallHook(MainLink().DisplayClosed);
    QDialog::done(QDialog::Rejected);
    b_Start->setEnabled(true);
    if (m.DeviceCode >= 100)
        ReleaseSerialSource(SerialSources().Display);
}

void TFormDisplay::closeEvent(QCloseEvent* e)
{
    if (isVisible())
        FormClose();
    e->accept();
}

void TFormDisplay::reject() { FormClose(); }

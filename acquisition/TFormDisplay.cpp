#include "acquisition/TFormDisplay.h"

#include "acquisition/DisplayLoop.h"
#include "acquisition/ProgramExit.h"
#include "acquisition/SampleSource.h"
#include "app/TMainForm.h"
#include "platform/Host.h"
#include "serial/TFoCom.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTextOption>

#include <algorithm>

TFormDisplay* FormDisplay = nullptr;

namespace {

QFont Arial(int pixels = 0, int points = 0, bool bold = false, bool fixedPitch = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    if (pixels)
        f.setPixelSize(pixels);
    if (points)
        f.setPointSize(points);
    f.setBold(bold);
    f.setFixedPitch(fixedPitch);
    return f;
}

// A label that draws its text smaller when it does not fit, instead of
// cutting digits off: a right-aligned "13.75kV/m" clipped to "3.75kV/m" is a
// wrong reading. The font it reports stays the one it was given.
class TFitLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = contentsRect();
        p.setFont(TFormDisplay::FontToFit(font(), text(), r.width()));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, int(alignment()), text());
    }
};

// The labels and status memo of the display as its loop sees them.
class TDisplayWindowView : public IDisplayView {
public:
    explicit TDisplayWindowView(TFormDisplay& f) : f_(f) {}
    void SetValue(const QString& t, int pt) override { Set(f_.LabelMesswert, t, pt); }
    void SetPosMax(const QString& t, int pt) override { Set(f_.LabelPosMaximum_Value, t, pt); }
    void SetNegMax(const QString& t, int pt) override { Set(f_.LabelNegMaximum_Value, t, pt); }
    void SetStatus(const QString& t) override { f_.SetStatusText(t); }
    void RepaintMainWindow() override
    {
        if (MainForm)
            MainForm->update();
    }

private:
    static void Set(QLabel* l, const QString& t, int pt)
    {
        if (pt)
            TFormDisplay::SetFontPoints(l, pt);
        if (l->text() != t)
            l->setText(t);
    }
    TFormDisplay& f_;
};

// The serial port the instrument windows share (FoCom->ComPort1).
void CloseSerialPort()
{
    if (FoCom && FoCom->ComPort1)
        FoCom->ComPort1->Close();
}

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

    Error_1 = new QPlainTextEdit(GroupBoxSpannung);
    Error_1->setGeometry(184, 128, 321, 129);
    Error_1->setReadOnly(true);
    Error_1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: red; color: white; }"));
    Error_1->setFont(Arial(21, 0, true));
    Error_1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Error_1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Error_1->setPlainText(QStringLiteral("Error occurred :\n\nUSB ADC device not found !\nProgram aborted"));
    Error_1->document()->setDefaultTextOption(QTextOption(Qt::AlignCenter));
    Error_1->setVisible(false);

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
    LabelNegMaximum_Value->setText(QStringLiteral("0.0"));
    LabelPosMaximum_Value->setText(QStringLiteral("0.0"));
    Memo_Status->setGeometry(850, 328, 100, 25);
    SetStatusText(QStringLiteral("STOP"));

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
    QFont f = font;
    for (int i = 0; i < 8; ++i) {
        const int needed = QFontMetrics(f).horizontalAdvance(text);
        if (needed <= width || needed <= 0)
            break;
        const qreal size = f.pointSizeF() > 0 ? f.pointSizeF() : 10;
        f.setPointSizeF(std::max<qreal>(1, size * width / needed * 0.98));
    }
    return f;
}

QString TFormDisplay::StatusText() const { return Memo_Status->toPlainText(); }

void TFormDisplay::SetFontPoints(QLabel* label, int points)
{
    if (label->font().pointSize() == points)
        return;
    QFont f = label->font();
    f.setPointSize(points);
    label->setFont(f);
}

void TFormDisplay::b_StartClick()
{
    TMainForm& m = *MainForm;
    m.StopFlag = false;
    b_Start->setEnabled(false);

    if (m.DeviceCode >= 100) {
        // The charge plate monitor's readings do not reach the display yet.
        b_Start->setEnabled(true);
        QMessageBox::information(this, QStringLiteral("Info"), QString::fromUtf8(NoCpmSourceMessage));
        return;
    }

    if (Usb.Wandler.OpenDevice() < 1) {
        AbortForMissingConverter([this] {
            Error_1->setVisible(true);
            Error_1->raise();
            repaint();
        });
        return;
    }
    Memo_Status->setGeometry(725, 328, 230, 25);

    TUsbSampleSource usb(Usb);
    TDeviceSampleSource source(usb);
    TDisplayWindowView view(*this);
    TDisplayLoop loop(m, view, source);
    const QString unit = m.UnitText;
    loop.Run(m.DeviceTitle, m.DeviceCode, m.RangeCode, unit);
}

void TFormDisplay::b_StopClick()
{
    MainForm->StopFlag = true;
    Memo_Status->setGeometry(1000, 328, 85, 25);
    SetStatusText(QStringLiteral("STOP"));
    b_Start->setEnabled(true);
}

void TFormDisplay::b_ResetClick()
{
    TMainForm& m = *MainForm;
    m.ResetExtremes();
    const QString zero = QStringLiteral("0") + m.UnitText;
    SetFontPoints(LabelNegMaximum_Value, DisplayFonts::MaximumReset);
    LabelNegMaximum_Value->setText(zero);
    SetFontPoints(LabelPosMaximum_Value, DisplayFonts::MaximumReset);
    LabelPosMaximum_Value->setText(zero);
    LabelMesswert->setText(zero);
    m.update();
    Host().ProcessMessages();
}

void TFormDisplay::bCancelClick() { FormClose(); }

void TFormDisplay::FormClose()
{
    TMainForm& m = *MainForm;
    m.StopFlag = true;
    m.View->menuAction()->setEnabled(true);
    m.Device->menuAction()->setEnabled(true);
    QDialog::done(QDialog::Rejected);
    b_Start->setEnabled(true);
    if (m.DeviceCode >= 100)
        CloseSerialPort();
}

void TFormDisplay::closeEvent(QCloseEvent* e)
{
    if (isVisible())
        FormClose();
    e->accept();
}

void TFormDisplay::reject() { FormClose(); }

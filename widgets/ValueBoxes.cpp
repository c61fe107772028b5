#include "widgets/ValueBoxes.h"

#include "widgets/Fonts.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextOption>

namespace {
constexpr int kValueBoxPixels = 32;
}

QPlainTextEdit* MakeValueBox(QWidget* parent, int x, int y, const QString& hint)
{
    auto* box = new QPlainTextEdit(parent);
    box->setGeometry(x, y, 201, 40);
    box->setReadOnly(true);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont f = box->font();
    f.setPixelSize(kValueBoxPixels);
    box->setFont(f);
    box->document()->setDefaultTextOption(QTextOption(Qt::AlignRight));
    box->document()->setDocumentMargin(1);
    if (!hint.isEmpty())
        box->setToolTip(hint);
    return box;
}

void SetValueBoxText(QPlainTextEdit* box, const QString& text)
{
    if (box->toPlainText() == text)
        return;
    box->setPlainText(text);
    // setPlainText drops the alignment of the first block: keep the value right-aligned.
    QTextOption o = box->document()->defaultTextOption();
    o.setAlignment(Qt::AlignRight);
    o.setWrapMode(QTextOption::NoWrap); // a wrapped "OVERFLOW !" scrolled later values out of sight
    box->document()->setDefaultTextOption(o);
    QFont f = box->font();
    const int room = box->contentsRect().width() - 2 * int(box->document()->documentMargin()) - 4;
    int px = kValueBoxPixels;
    for (; px > 10; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).horizontalAdvance(text) <= room)
            break;
    }
    if (box->font().pixelSize() != px) {
        f.setPixelSize(px);
        box->setFont(f);
    }
}

QPlainTextEdit* MakeErrorBox(QWidget* parent, const QString& text)
{
    auto* box = new QPlainTextEdit(parent);
    box->setGeometry(184, 128, 321, 129);
    box->setReadOnly(true);
    box->setStyleSheet(QStringLiteral("QPlainTextEdit { background: red; color: white; }"));
    box->setFont(Arial(21, 0, true));
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setPlainText(text);
    box->document()->setDefaultTextOption(QTextOption(Qt::AlignCenter));
    box->setVisible(false);
    return box;
}

void TFitLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = contentsRect();
    p.setFont(FontToFit(font(), text(), r.width()));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r, int(alignment()), text());
}

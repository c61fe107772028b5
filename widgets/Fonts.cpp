#include "widgets/Fonts.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

QFont Arial(int pixels, int points, bool bold, bool fixedPitch)
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

QFont FontToFit(const QFont& font, const QString& text, int width)
{
    QFont f = font;
    for (int i = 0; i < 8; ++i) {
        const int needed = QFontMetrics(f).horizontalAdvance(text);
        if (needed <= width || needed <= 0)
            break;
        // A font set in pixels shrinks in pixels: it has no point size to
        // start from.
        if (f.pixelSize() > 0) {
            f.setPixelSize(std::max(1, int(f.pixelSize() * qreal(width) / needed * 0.98)));
            continue;
        }
        const qreal size = f.pointSizeF() > 0 ? f.pointSizeF() : 10;
        f.setPointSizeF(std::max<qreal>(1, size * width / needed * 0.98));
    }
    return f;
}

void SetFontPoints(QLabel* label, int points)
{
    if (label->font().pointSize() == points)
        return;
    QFont f = label->font();
    f.setPointSize(points);
    label->setFont(f);
}

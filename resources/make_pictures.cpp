// Draws the two pictures built into the program (wallpaper.jpg, logo.jpg).
// Not part of the build; run it by hand when the pictures should change:
//   g++ -std=c++20 -fPIC make_pictures.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_pictures
//   QT_QPA_PLATFORM=offscreen /tmp/make_pictures /tmp && \
//   convert /tmp/wallpaper.png -quality 88 -sampling-factor 4:2:0 -strip wallpaper.jpg && \
//   convert /tmp/logo.png -quality 92 -strip logo.jpg
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

const QColor kInk(0x1f, 0x3a, 0x5f);
const QColor kAccent(0x2e, 0x7d, 0xb8);
const QColor kField(0xa9, 0xc7, 0xe3);

// Field lines of a charged sphere above a grounded plate (image charge):
// followed numerically from the sphere's surface until they reach the plate.
void DrawFieldLines(QPainter& p, QPointF charge, double plateY, double radius)
{
    const QPointF image(charge.x(), 2 * plateY - charge.y());
    p.setPen(QPen(kField, 1.6));
    p.setBrush(Qt::NoBrush);
    const int lines = 22;
    for (int i = 0; i < lines; ++i) {
        const double a = M_PI * (0.5 + 1.6 * (i + 0.5) / lines - 0.8);
        QPointF pt = charge + QPointF(std::cos(a), std::sin(a)) * radius;
        QPainterPath path(pt);
        for (int s = 0; s < 4000; ++s) {
            const QPointF d1 = pt - charge, d2 = pt - image;
            const double r1 = std::pow(std::hypot(d1.x(), d1.y()), 3);
            const double r2 = std::pow(std::hypot(d2.x(), d2.y()), 3);
            QPointF e = d1 / r1 - d2 / r2;
            const double len = std::hypot(e.x(), e.y());
            if (len == 0)
                break;
            pt += e / len * 1.5;
            path.lineTo(pt);
            if (pt.y() >= plateY || pt.x() < -50 || pt.x() > 1100)
                break;
        }
        p.drawPath(path);
    }
    // Equipotentials, dashed.
    QPen eq(QColor(0xc8, 0xd6, 0xe5), 1.0, Qt::DashLine);
    p.setPen(eq);
    p.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 4; ++k) {
        const double r = radius * (1.0 + 0.9 * k);
        p.drawEllipse(charge + QPointF(0, 6.0 * k), r, r * 0.92);
    }
    QRadialGradient g(charge - QPointF(radius * 0.35, radius * 0.35), radius * 1.3);
    g.setColorAt(0, QColor(0xff, 0xff, 0xff));
    g.setColorAt(1, kAccent);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(g);
    p.drawEllipse(charge, radius, radius);
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(charge + QPointF(-radius * 0.4, 0), charge + QPointF(radius * 0.4, 0));
    p.drawLine(charge + QPointF(0, -radius * 0.4), charge + QPointF(0, radius * 0.4));
}

void DrawPlate(QPainter& p, double x0, double x1, double y)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9a, 0xa7, 0xb4));
    p.drawRoundedRect(QRectF(x0, y, x1 - x0, 10), 3, 3);
    p.setPen(QPen(QColor(0x9a, 0xa7, 0xb4), 2));
    for (double x = x0 + 10; x < x1; x += 18)
        p.drawLine(QPointF(x, y + 12), QPointF(x - 10, y + 24));
}

void DrawMeter(QPainter& p, QRectF body)
{
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, QColor(0xfa, 0xfb, 0xfc));
    g.setColorAt(1, QColor(0xdf, 0xe5, 0xeb));
    p.setPen(QPen(kInk, 2));
    p.setBrush(g);
    p.drawRoundedRect(body, 14, 14);
    // Display.
    const QRectF lcd(body.left() + 18, body.top() + 20, body.width() - 36, 62);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(QColor(0xe6, 0xf0, 0xe6));
    p.drawRoundedRect(lcd, 6, 6);
    QFont f("DejaVu Sans Mono");
    f.setPixelSize(30);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0x23, 0x32, 0x2a));
    p.drawText(lcd.adjusted(0, 0, -12, 0), Qt::AlignRight | Qt::AlignVCenter, "+12.40");
    QFont u("DejaVu Sans");
    u.setPixelSize(15);
    p.setFont(u);
    p.setPen(kInk);
    p.drawText(QRectF(lcd.left(), lcd.bottom() + 4, lcd.width(), 20), Qt::AlignRight, "kV/m");
    // Keys.
    p.setBrush(QColor(0xc9, 0xd3, 0xdd));
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(body.left() + 22 + i * 44, body.top() + 118, 34, 20), 5, 5);
    // Sensor head with its rotating chopper.
    const QPointF head(body.center().x(), body.top() - 26);
    p.setBrush(QColor(0xb8, 0xc4, 0xcf));
    p.drawRect(QRectF(head.x() - 14, head.y(), 28, 26));
    p.setBrush(QColor(0xee, 0xf2, 0xf6));
    p.drawEllipse(head, 30, 12);
    p.setPen(QPen(kAccent, 2));
    for (int i = 0; i < 4; ++i) {
        const double a = i * M_PI / 4;
        p.drawLine(head + QPointF(std::cos(a) * 24, std::sin(a) * 9), head - QPointF(std::cos(a) * 24, std::sin(a) * 9));
    }
}

QImage Wallpaper()
{
    QImage img(993, 614, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 614);
    bg.setColorAt(0, QColor(0xff, 0xff, 0xff));
    bg.setColorAt(1, QColor(0xee, 0xf3, 0xf8));
    p.fillRect(img.rect(), bg);
    p.setPen(QPen(QColor(0xe9, 0xee, 0xf3), 1));
    for (int x = 0; x < 993; x += 32)
        p.drawLine(x, 0, x, 614);
    for (int y = 0; y < 614; y += 32)
        p.drawLine(0, y, 993, y);

    const double plateY = 520;
    DrawPlate(p, 24, 969, plateY);
    DrawFieldLines(p, QPointF(720, 290), plateY, 34);
    DrawMeter(p, QRectF(90, 330, 170, 160));

    QFont title("DejaVu Sans");
    title.setPixelSize(54);
    title.setBold(true);
    p.setFont(title);
    p.setPen(kInk);
    p.drawText(QPointF(60, 130), "Ulmaro read out");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(20);
    p.setFont(sub);
    p.setPen(QColor(0x4a, 0x5d, 0x73));
    p.drawText(QPointF(64, 168), "Electrostatic field, voltage and charge measurement");
    p.setPen(QPen(kAccent, 3));
    p.drawLine(QPointF(64, 186), QPointF(420, 186));
    QFont hint("DejaVu Sans");
    hint.setPixelSize(15);
    p.setFont(hint);
    p.setPen(QColor(0x6b, 0x7c, 0x8f));
    p.drawText(QPointF(64, 222), "Device \u2192 instrument, mode and range;  View \u2192 Chart or Display");
    return img;
}

QImage Logo()
{
    QImage img(337, 89, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Emblem: a charge with field lines leaving it.
    const QPointF c(44, 44.5);
    p.setPen(QPen(kField, 2));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6;
        p.drawLine(c + QPointF(std::cos(a), std::sin(a)) * 22, c + QPointF(std::cos(a), std::sin(a)) * 36);
    }
    QRadialGradient g(c - QPointF(6, 6), 24);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, kAccent);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(g);
    p.drawEllipse(c, 18, 18);
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(c + QPointF(-8, 0), c + QPointF(8, 0));
    p.drawLine(c + QPointF(0, -8), c + QPointF(0, 8));

    QFont word("DejaVu Sans");
    word.setPixelSize(46);
    word.setBold(true);
    word.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(word);
    p.setPen(kInk);
    p.drawText(QPointF(94, 56), "Ulmaro");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(13);
    sub.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(sub);
    p.setPen(QColor(0x4a, 0x5d, 0x73));
    p.drawText(QPointF(97, 77), "MESSTECHNIK");
    p.setPen(QPen(kAccent, 3));
    p.drawLine(QPointF(94, 64), QPointF(322, 64));
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(".");
    return Wallpaper().save(dir + "/wallpaper.png") && Logo().save(dir + "/logo.png") ? 0 : 1;
}

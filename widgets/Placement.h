#pragma once
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Centres a window on the primary screen's free area, `down` pixels below
// the middle (the instrument windows sit a little low, clear of the main
// window's menu).
inline void CentreOnScreen(QWidget* w, int down = 0)
{
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect a = s->availableGeometry();
        w->move(a.x() + (a.width() - w->width()) / 2, a.y() + (a.height() - w->height()) / 2 + down);
    }
}

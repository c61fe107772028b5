#pragma once
#include <QFont>
#include <QString>

class QLabel;

// Arial as the windows were designed with it: a size in pixels or in points
// (0 leaves it at the default), optionally bold or fixed-pitch.
QFont Arial(int pixels = 0, int points = 0, bool bold = false, bool fixedPitch = false);

// `font`, made smaller if need be so that `text` fits into `width` pixels.
QFont FontToFit(const QFont& font, const QString& text, int width);

// Sets a label's font size in points (nothing happens when it has it already).
void SetFontPoints(QLabel* label, int points);

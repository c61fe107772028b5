#pragma once
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

// A value box: a read-only one-line memo, right-aligned, 32 px text, no
// scroll bars, that never wraps. Placed at (x, y) in `parent`, 201 x 40.
QPlainTextEdit* MakeValueBox(QWidget* parent, int x, int y, const QString& hint = {});
// Sets a value box's text. A text wider than the box is drawn smaller
// instead of losing its first characters; back to 32 px once it fits again.
void SetValueBoxText(QPlainTextEdit* box, const QString& text);
inline QString ValueBoxText(const QPlainTextEdit* box) { return box->toPlainText(); }

// The red error box with white bold text, centred, hidden until needed.
QPlainTextEdit* MakeErrorBox(QWidget* parent, const QString& text);

// A label that draws its text smaller when it does not fit, instead of
// cutting digits off: a right-aligned "13.75kV/m" clipped to "3.75kV/m" is a
// wrong reading. The font it reports stays the one it was given.
class TFitLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override;
};

#pragma once
#include "acquisition/CAD_wandler.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

// The numeric display: the current value in very large digits and the two
// extremes below it, with its own Start, Break, Reset and Exit and its own
// sample period. Shown modally from View -> Display.
class TFormDisplay : public QDialog {
    Q_OBJECT
public:
    explicit TFormDisplay(QWidget* parent = nullptr);

    QGroupBox* GroupBoxSpannung = nullptr;
    QLabel* LabelMesswert = nullptr;
    QPlainTextEdit* Memo_Status = nullptr;
    QPlainTextEdit* Error_1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* b_Start = nullptr;
    QPushButton* b_Stop = nullptr;
    QPushButton* b_Reset = nullptr;
    QPushButton* bCancel = nullptr;
    QGroupBox* GroupBoxNegMaximum = nullptr;
    QLabel* LabelNegMaximum_Value = nullptr;
    QGroupBox* GroupBoxPosMaximum = nullptr;
    QLabel* LabelPosMaximum_Value = nullptr;

    // The display's own converter record.
    USB Usb;

    void b_StartClick();
    void b_StopClick();
    void b_ResetClick();
    void bCancelClick();
    // Closing by the window frame (and Escape) does what Exit does.
    void FormClose();

    // Sets the status memo's text, centred.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // Font size of a label in points.
    static void SetFontPoints(QLabel* label, int points);
    // `font`, made smaller if need be so that `text` fits into `width` pixels.
    static QFont FontToFit(const QFont& font, const QString& text, int width);

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    // The idle look Break gives the window: "STOP" in the status memo.
    void ShowStopped();
};

extern TFormDisplay* FormDisplay;

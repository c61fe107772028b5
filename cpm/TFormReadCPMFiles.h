#pragma once
#include "cpm/CpmWindowState.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

// The read-out's dialog: first the range of stored file numbers, then a
// comment per file. It only collects input and sets its two flags; the decay
// window waits for them.
class TFormReadCPMFiles : public QWidget {
    Q_OBJECT
public:
    explicit TFormReadCPMFiles(QWidget* parent = nullptr);

    QGroupBox* GroupBoxRangeFileNumber = nullptr;
    QLabel* LabelRangeFileNumber = nullptr;
    QLineEdit* MaskEditStart = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* MaskEditStopp = nullptr;
    QGroupBox* GroupBoxInputComment = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* LabelFileNumberActuell = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* LabelFileNumberMax = nullptr;
    QLineEdit* TextCommentFile = nullptr;
    // Off at each read-out: on, the comment confirmed goes to every file left.
    QCheckBox* CheckBoxSameComment = nullptr;
    QPushButton* BitBtnOK = nullptr;
    QPushButton* BitBtnAbort = nullptr;

    // Hidden, asking for the range, or asking for a file's comment; shows
    // the controls of that step and the window itself.
    TCpmFilesDialogState State() const { return state_; }
    void SetState(TCpmFilesDialogState state);

    bool OKFlag = false;
    bool AbortFlag = false;

    void BitBtnOKClick();
    void BitBtnAbortClick();
    // Enter, on its release, moves on to the last file number.
    void MaskEditStartKeyUp(int key);

    // The number in a two-digit field (an empty field is 0).
    static int FieldNumber(const QLineEdit* edit);
    // Fits the window around what is visible.
    void FitToContents();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* e) override;

private:
    TCpmFilesDialogState state_ = TCpmFilesDialogState::Hidden;
};

extern TFormReadCPMFiles* FormReadCPMFiles;

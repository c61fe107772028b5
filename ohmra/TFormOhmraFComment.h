#pragma once
#include "ohmra/OhmraFiles.h"
#include "ohmra/OhmraStates.h"
#include "widgets/LazyChild.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

class TOhmraRadioGroup;

// The comment window: browses the stored files read from the tera-ohmmeter,
// takes a comment for each, and writes them (and, for the measurement
// window, the live measurement in record 0) to CSV files. It owns the record
// store and its range.
class TFormOhmraFComment : public QWidget, public TOhmraFileStore {
    Q_OBJECT
public:
    explicit TFormOhmraFComment(QWidget* parent = nullptr);

    QGroupBox* GroupBoxOhmraFileComments = nullptr;
    QLabel* LabelFileNumber_ = nullptr;
    QLabel* LabelResistor_ = nullptr;
    QLabel* LabelHumidity_ = nullptr;
    QLabel* LabelTemperature_ = nullptr;
    QLabel* LabelTimer_ = nullptr;
    QLabel* LabelAL_ = nullptr;
    QLabel* LabelFileNumber = nullptr;
    QLabel* LabelResistor = nullptr;
    QLabel* LabelHumidity = nullptr;
    QLabel* LabelTemperature = nullptr;
    QLabel* LabelTimer = nullptr;
    QLabel* LabelAL = nullptr;
    QPushButton* BitBtnStart = nullptr;
    QPushButton* BitBtnPrevious = nullptr;
    QPushButton* BitBtnNext = nullptr;
    QPushButton* BitBtnEnd = nullptr;
    QLabel* LabelComment = nullptr;
    QLineEdit* EditComments = nullptr;
    TOhmraRadioGroup* Ohmra_RadioGroup = nullptr;
    QPushButton* BitBtnSave = nullptr;
    QPushButton* BitBtnExit = nullptr;
    // How many files of the read-out were skipped.
    QLabel* LabelSkipped = nullptr;
    TLazyChild<QFileDialog> SaveDialog1; // made on first use

    TOhmraCommentState State() const { return state_; }
    // Shows the records just read (FirstIndex..LastIndex, those that hold a
    // measurement) and says how many files were skipped.
    void BeginBrowsing(int skipped);

    // Shows record CurrentIndex.
    void ShowRecord();
    // Asks for a file and appends to it (single: the live measurement in
    // record 0; otherwise the records FirstIndex..LastIndex). saveMode 0
    // "Tech", 1 "Expo". Returns a kOhmraSave* code.
    int32_t SaveToCsv(bool single, int saveMode);

    // Runs the save dialog and returns the chosen file, or an empty text when
    // cancelled. Tests put their own chooser here.
    std::function<QString(QFileDialog&)> RunSaveDialog;

    void BitBtnStartClick();
    void BitBtnPreviousClick();
    void BitBtnNextClick();
    void BitBtnEndClick();
    void EditCommentsKeyPress();
    void LabelFileNumber_Click();
    void BitBtnSaveClick();
    void BitBtnExitClick();
    void FormShow() {}
    void FormClose() {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetState(TOhmraCommentState state);
    bool Allowed(TOhmraCommentControl c) const { return OhmraCommentAllows(state_, c); }
    // The nearest record from `from` on, going by `step`, that holds a
    // measurement within FirstIndex..LastIndex; -1 when there is none.
    int HeldRecord(int from, int step) const;
    // The comment field's text into the record shown.
    void TakeOverComment();
    // Back to the measurement window; false when the user chose to stay.
    bool LeaveWindow();

    TOhmraCommentState state_ = TOhmraCommentState::Hidden;
};

extern TFormOhmraFComment* FormOhmraFComment;

#pragma once
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include "ohmra/OhmraStates.h"
#include <cstdint>
#include <memory>

class C_Ohmra;
class TCustomComPort;
class TOhmraRadioGroup;

// The tera-ohmmeter's measurement window: Init, single measurements with or
// without the meter's timer, Break, Reset, Save with a comment, and the start
// of the stored-file reading. The main window opens the port and shows it.
class TFormOhmra : public QWidget {
    Q_OBJECT
public:
    // Talks through `port`, or the serial form's port when none is given.
    explicit TFormOhmra(QWidget* parent = nullptr, TCustomComPort* port = nullptr);
    ~TFormOhmra() override;

    QGroupBox* Ohmra_GroupBox_V = nullptr;
    QLabel* Label_Ohmra_Me = nullptr;
    QGroupBox* Ohmra_GroupBox_H = nullptr;
    QLabel* Label_Ohmra_Hu = nullptr;
    QGroupBox* Ohmra_GroupBox_T = nullptr;
    QLabel* Label_Ohmra_Te = nullptr;
    QPushButton* BitBtn_start = nullptr;
    QPushButton* BitBtn_stop = nullptr;
    QPushButton* BitBtn_readFile = nullptr;
    QPushButton* BitBtn_save = nullptr;
    QPushButton* BitBtn_reset = nullptr;
    QPushButton* BitBtn_init = nullptr;
    QPushButton* BitBtn_exit = nullptr;
    QGroupBox* GroupBox_Ohmra_Setup = nullptr;
    TOhmraRadioGroup* RadioGroup_Ohmra_VM = nullptr;
    TOhmraRadioGroup* RadioGroup_Ohmra_DM = nullptr;
    TOhmraRadioGroup* RadioGroup_Ohmra_TI = nullptr;
    TOhmraRadioGroup* RadioGroup_Ohmra_TiMo = nullptr;
    QComboBox* ComboBox_Ohmra_Time = nullptr;
    QGroupBox* GroupBoxInfo = nullptr;
    QPlainTextEdit* MemoInfo = nullptr;
    QGroupBox* GroupBox_Input_Comment = nullptr;
    QLineEdit* Edit_Comment = nullptr;
    QPushButton* BitBtnOK = nullptr;
    QPushButton* BitBtnCancel = nullptr;
    // The input range of the stored-file reading.
    QGroupBox* GroupBoxFiles = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* MaskEdit_start_fn = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* MaskEdit_end_fn = nullptr;
    QPushButton* BitBtn_OK_FileNo = nullptr;
    QLabel* LabelReadFNo = nullptr;
    QLabel* LabelFNo = nullptr;

    // Voltage mode index at the last configuration of the meter; 3 forces one.
    int32_t LastVoltageMode = 0;

    // The protocol instance shared with the stored-file reading.
    C_Ohmra& Ohmra() { return *ohmra_; }

    void BitBtn_initClick();
    void BitBtn_startClick();
    void BitBtn_stopClick();
    void BitBtn_resetClick();
    void BitBtn_saveClick();
    void BitBtn_exitClick();
    void BitBtn_readFileClick();
    void BitBtn_OK_FileNoClick();
    void FormClose();
    void RadioGroup_Ohmra_TIClick();
    void BitBtnOKClick();
    void BitBtnCancelClick();
    void Edit1KeyPress();

    // What the window is doing; every control follows it.
    TOhmraState State() const { return state_; }
    // The comment window hands back after browsing the stored files.
    void FilesBrowsed();
    // How many files of the last read-out were skipped (refused, unreadable
    // or empty slots).
    int SkippedFiles() const { return skipped_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetState(TOhmraState state);
    bool Allowed(TOhmraControl c) const { return OhmraAllows(state_, c); }
    // After an error inside a handler: no progress text left standing, and
    // the window back in a state the user can act in.
    void RecoverAfterError(bool initialised);
    void RunMeasurement(unsigned session);
    void RunFileReading(unsigned session);
    void MaskEdit_fnChange();
    void SetMeFont(int points);

    std::unique_ptr<C_Ohmra> ohmra_;
    TOhmraState state_ = TOhmraState::NotInitialised;
    // Counts the openings: a handler that was waiting when Exit ran finds
    // it changed and ends instead of talking to a closed port or to the
    // meter of the next opening.
    unsigned session_ = 0;
    int skipped_ = 0;
    // Whether the file numbers typed make a range; OK follows it as soon as
    // either number changes, so a click right after typing is not lost.
    bool rangeValid_ = false;
    int rangeFirst_ = 0;
    int rangeLast_ = 0;
};

extern TFormOhmra* FormOhmra;

#pragma once
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
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

    bool Aborted = false;
    bool FileNoOk = false;
    bool CommentOk = false;
    bool CommentCancel = false;
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

    void ButtonsOn();
    void ButtonsOff();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // True once Exit ran while a handler of this window was still waiting:
    // the waiting handler then ends instead of talking to a closed port.
    bool LeftWhileBusy() const { return exited_; }
    void SetMeFont(int points);

    std::unique_ptr<C_Ohmra> ohmra_;
    bool exited_ = false;
};

extern TFormOhmra* FormOhmra;

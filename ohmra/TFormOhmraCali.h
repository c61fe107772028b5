#pragma once
#include "ohmra/C_Ohmra.h"
#include "ohmra/OhmraStates.h"
#include "widgets/LazyChild.h"

#include <QCheckBox>
#include <QDate>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QPrintDialog;
class QPrinter;
class TCustomComPort;

// The tera-ohmmeter's service window: adjustment parameters read, loaded
// from the settings file and written back, serial number and calibration
// date written, one measurement shown with all its fields and status bits,
// a reset, and the results saved to a calibration file and printed. Every
// operation leaves its record in the info memo.
class TFormOhmraCali : public QWidget {
    Q_OBJECT
public:
    // Talks through `port` (the program's one port when none is given).
    explicit TFormOhmraCali(TCustomComPort* port = nullptr, QWidget* parent = nullptr);
    ~TFormOhmraCali() override;

    QGroupBox* GroupBox_adjust_para = nullptr;
    QLineEdit* MaskEdit_k0 = nullptr;
    QLineEdit* MaskEdit_k1 = nullptr;
    QLineEdit* MaskEdit_k2 = nullptr;
    QLineEdit* MaskEdit_k3 = nullptr;
    QLineEdit* MaskEdit_k4 = nullptr;
    QLineEdit* MaskEdit_k5 = nullptr;
    QLineEdit* MaskEdit_k_TF0 = nullptr;
    QLineEdit* MaskEdit_k_TF2 = nullptr;
    QLineEdit* MaskEdit_k_TF3 = nullptr;
    QPushButton* BitBtn_read_para = nullptr;
    QPushButton* BitBtn_read_default = nullptr;
    QPushButton* BitBtn_write_para = nullptr;
    QPushButton* BitBtn_read_cali_data = nullptr;
    QPushButton* BitBtn_write_cali_data = nullptr;
    QPushButton* BitBtn_read_meas_data = nullptr;
    QPushButton* BitBtn_reset = nullptr;
    QPushButton* BitBtn_save = nullptr;
    QPushButton* BitBtn_print = nullptr;
    QPushButton* BitBtn_clear = nullptr;
    QPushButton* BitBtn_exit = nullptr;
    QGroupBox* GroupBox_info_display = nullptr;
    QPlainTextEdit* MemoInfo = nullptr;
    QProgressBar* ProgressBarWait = nullptr;
    QGroupBox* GroupBoxStatus = nullptr;
    QCheckBox* CheckBox0 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QGroupBox* GroupBoxCaliData = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* MaskEditSerialNumber = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* MaskEditSerialDate = nullptr;
    QPushButton* BitBtnCaliDateOK = nullptr;
    QPushButton* BitBtnCaliDateCancel = nullptr;
    TLazyChild<QFileDialog> SaveDialogCali; // made on first use
    // Made on the first print: asking the system for its printers takes a while.
    QPrintDialog* PrintDialogCali = nullptr;
    QTimer* Timer1 = nullptr;

    // Window state.
    Ohmra_Para_Struct Para;
    int32_t WaitElapsed = 0;
    bool DateEntryOpen = false;
    bool DateEntryCancel = false;
    std::array<bool, 10> SavedButtonStates{};

    // Where today's date comes from (tests pin it).
    std::function<QDate()> Today = [] { return QDate::currentDate(); };

    void BitBtn_read_paraClick();
    void BitBtn_read_defaultClick();
    void BitBtn_write_paraClick();
    void BitBtn_read_cali_dataClick();
    void BitBtn_write_cali_dataClick();
    void BitBtnCaliDateOKClick();
    void BitBtnCaliDateCancelClick();
    void BitBtn_read_meas_dataClick();
    void BitBtn_resetClick();
    void BitBtn_clearClick();
    void BitBtn_saveClick();
    void BitBtn_printClick();
    void BitBtn_exitClick();
    void Timer1Timer();

    void LoadDefaults();
    void WaitWithProgress(int32_t ms);
    // 0 saved or cancelled, 1 the header or the line did not get into the
    // file in full, -1 the file could not be created.
    int32_t SaveCalibrationCsv();
    // Appends the calibration line to `path` (creating it with its header);
    // the part of SaveCalibrationCsv after the dialog.
    int32_t WriteCalibrationFile(const QString& path);
    void PrintInfo();

    // The layout's pixel positions are laid out for a printer of this many
    // dots per inch; the print-out is drawn at it whatever the printer.
    static constexpr int PrintResolution = 600;
    // The print-out of the info memo's lines onto `printer` (a PDF printer in
    // the tests). False when the printer could not be started.
    static bool PrintInfoTo(QPrinter& printer, const QStringList& lines, const QDate& today);
    // The manufacturer's line at the head of the print-out.
    static QString PrintHeaderLine();

    static QString CalibrationCsvHeader();
    static QString CalibrationCsvLine(const Ohmra_Para_Struct& para);

    C_Ohmra& Ohmra() { return *ohmra_; }

    // What the window does and how far its chain of operations has come;
    // every control follows it.
    const TOhmraCaliState& State() const { return state_; }

    // Runs the save dialog and returns the chosen file, or an empty text when
    // cancelled. Tests put their own chooser here.
    std::function<QString(QFileDialog&)> RunSaveDialog;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void AddLine(const QString& text);
    void SetActivity(TOhmraCaliActivity activity);
    void SetProgress(TOhmraCaliProgress progress);
    void ApplyState();
    void PrintWithDialog();
    bool Allowed(TOhmraCaliControl c) const { return OhmraCaliAllows(state_, c); }
    // Runs an action in `activity` and returns to idle however it ends.
    void Run(TOhmraCaliActivity activity, const std::function<void()>& action);

    std::unique_ptr<C_Ohmra> ohmra_;
    QPrinter* printer_ = nullptr;
    std::array<QPushButton*, 10> actionButtons_{};
    std::array<QLineEdit*, 9> paramFields_{};
    bool waiting_ = false;
    TOhmraCaliState state_;
};

extern TFormOhmraCali* FormOhmraCali;

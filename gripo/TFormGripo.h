#pragma once
#include "gripo/GripoStates.h"
#include "widgets/LazyChild.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>

class C_Gripo;
class QPrintDialog;
class QPrinter;

// The tester's statistics window: reads the counters (optionally clearing
// the tester's memory), shows them with their percentages, appends them to
// a statistics file and prints them.
class TFormGripo : public QWidget {
    Q_OBJECT
public:
    explicit TFormGripo(QWidget* parent = nullptr);
    ~TFormGripo() override;

    QGroupBox* GroupBoxStatistic = nullptr;
    QGroupBox* GroupBoxResults = nullptr;
    QLabel* LabelCounter_all = nullptr;
    QLineEdit* Counter_all = nullptr;
    QLabel* LabelHGB_L = nullptr;
    QLineEdit* Counter_HGB_L = nullptr;
    QLineEdit* Counter_HGB_L_P = nullptr;
    QLabel* LabelHGB_H = nullptr;
    QLineEdit* Counter_HGB_H = nullptr;
    QLineEdit* Counter_HGB_H_P = nullptr;
    QLabel* LabelShoe_L = nullptr;
    QLineEdit* Counter_Shoe_L = nullptr;
    QLineEdit* Counter_Shoe_L_P = nullptr;
    QLabel* LabelShoe_H = nullptr;
    QLineEdit* Counter_Shoe_H = nullptr;
    QLineEdit* Counter_Shoe_H_P = nullptr;
    QCheckBox* CheckBoxDeleteStatisticData = nullptr;
    QPushButton* BitBtn_Start = nullptr;
    QPushButton* BitBtn_Cancel = nullptr;
    QPushButton* BitBtnSaveData = nullptr;
    QPushButton* BitBtnPrintData = nullptr;
    QLabel* LabelComment = nullptr;
    QLineEdit* EditComment = nullptr;
    // Says in the window that the last transfer failed, and why.
    QLabel* LabelTransfer = nullptr;
    TLazyChild<QFileDialog> SaveDialogGripo; // made on first use
    // Made on the first print: asking the system for its printers takes a while.
    QPrintDialog* PrintDialogGripo = nullptr;

    void FormCreate();
    void BitBtn_StartClick();
    void BitBtnSaveDataClick();
    void BitBtnPrintDataClick();
    void BitBtn_CancelClick();
    // The window closed from its title bar: the same hand-back as Exit.
    void FormClose();

    TGripoState State() const { return state_; }
    // An Exit (or close) asked for while a transfer, save or print ran; it
    // is carried out when that ends.
    bool ExitPending() const { return exitPending_; }

    // The layout's pixel positions are laid out for a printer of this many
    // dots per inch; the print-out is drawn at it whatever the printer.
    static constexpr int PrintResolution = 600;
    // The print-out of the statistics record onto `printer` (a PDF printer
    // in the tests). False when the printer could not be started.
    static bool PrintStatistics(QPrinter& printer, const C_Gripo& data);

    // The statistics file's result: 0 written (or the dialog cancelled),
    // -1 not created, 1 the line (or the header) did not get into the file.
    int SaveStatistics(const QString& fileName);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CloseHandling();
    // Enters a state and sets every control as it offers.
    void ApplyState(TGripoState state);
    // The transfer failed: no counts stand in the window, the reason does.
    void TransferFailed(const QString& why);
    void ShowRecord();
    void LeaveIfAsked();
    std::array<QLineEdit*, 9> ResultFields() const;
    TGripoState state_ = TGripoState::Idle;
    bool exitPending_ = false;
    QPrinter* printer_ = nullptr;
};

// The one tester record of the run, reached by the window. Made by the
// window on the program's one port.
extern C_Gripo* Gripo;

extern TFormGripo* FormGripo;

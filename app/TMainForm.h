#pragma once
#include "core/MainState.h"
#include "app/RangeTable.h"

#include <QAction>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

class TChart;
class TTeeCommander;
class USB;

// The main window: wallpaper view, chart view with the measurement panel,
// the menus, and the state the rest of the program shares (TMainState).
class TMainForm : public QMainWindow, public TMainState {
    Q_OBJECT
public:
    // Construction steps 1 to 14; argv are the command-line words.
    // Whole: every control now. StartViewFirst: the menus and the start
    // view now, the read-out when BuildReadOut is called.
    enum class TBuild { Whole, StartViewFirst };
    TMainForm(int argc, const char* const* argv, QWidget* parent = nullptr, TBuild build = TBuild::Whole);
    ~TMainForm() override;

    // --- menus -----------------------------------------------------------
    QMenuBar* MainMenue = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Device = nullptr;
    QMenu* View = nullptr;
    QAction* Grafik1 = nullptr;
    QAction* Display = nullptr;
    QMenu* Setup = nullptr;
    QAction* Com1 = nullptr;
    QAction* Help = nullptr;
    // Every item of the Device menu tree by component name ("Talvis1",
    // "N20kVm2", "Opt11", ...): submenus as their menu actions.
    QMap<QString, QAction*> DeviceItems;
    QMap<QString, QMenu*> DeviceMenus;
    QMenu* Quenor1 = nullptr;
    QMenu* Karvo1 = nullptr;
    QMenu* Ohmra1 = nullptr;
    QMenu* Gripo1 = nullptr;
    QMenu* Opt11 = nullptr;
    QMenu* Opt111 = nullptr;
    QAction* Opt121 = nullptr;
    QAction* Opt122 = nullptr;
    QMenu* Opt21 = nullptr;
    QMenu* Opt211 = nullptr;
    QAction* Opt221 = nullptr;
    QAction* Opt222 = nullptr;
    QAction* CPM_Start = nullptr;
    QAction* Ohmra_Start = nullptr;
    QAction* Ohmra_CalMenu = nullptr;
    QAction* Start_Gripo = nullptr;

    // --- controls ----------------------------------------------------------
    TTeeCommander* TeeCommander1 = nullptr;
    QLabel* ImageWallpaper = nullptr;
    QLabel* image_Manufac_Logo = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* LabelposMax = nullptr;
    QPlainTextEdit* Maxwert = nullptr;
    QLabel* LabelMess = nullptr;
    QPlainTextEdit* Messwert = nullptr;
    QLabel* LabelnegMax = nullptr;
    QPlainTextEdit* Minwert = nullptr;
    QLabel* laSampleTime = nullptr;
    QPushButton* b_Start = nullptr;
    QPushButton* b_Stop_ = nullptr;
    QPushButton* b_Reset = nullptr;
    QPushButton* b_Cancel = nullptr;
    TChart* Chart1 = nullptr;
    QPlainTextEdit* Error_1 = nullptr;

    // The main window's own converter record (the chart's source).
    USB* Usb = nullptr;

    // The text of a value box (memo) as one string.
    static QString BoxText(const QPlainTextEdit* box);
    static void SetBoxText(QPlainTextEdit* box, const QString& text);

    // --- selection (menu handlers) -----------------------------------------
    void RangeLeafClick(const TMenuEntry& entry);
    void ShowSelection();
    void CPM_StartClick();
    void Ohmra_StartClick();
    void Ohmra_CalMenuClick();
    void Start_GripoClick();
    void Exit1Click();
    void HelpClick();
    void Com1Click();

    // --- chart view ---------------------------------------------------------
    void Grafik1Click();
    void DisplayClick();
    void b_StartClick();
    void b_Stop_Click();
    void b_ResetClick();
    void b_CancelClick();
    void PrepareChart();
    // Ends the chart's recording, if one runs, while the user can still be
    // asked about lines another program keeps from the file: before the
    // windows are torn down at the end of the program.
    void FinishRecording();

    // Closes the serial port if asked, opens it, and sets the long read
    // time-out the tera-ohmmeter and tester need (serial instrument entries).
    void ReopenPortForInstrument(bool closeFirst, bool longReadTimeout);

    // The picture shown as the maker's logo (built-in or the Banner file).
    QImage LogoPicture;

protected:
    void closeEvent(QCloseEvent* e) override;

public:
    // The read-out's controls (value boxes, buttons, chart and its toolbar)
    // are hidden until a range is chosen. Built with the window, or (so that
    // the window is on screen sooner) right after its first showing and
    // before it takes any input; the second call does nothing.
    void BuildReadOut();

private:
    void BuildMenus();
    void BuildStartView();
    void BuildOptionalDevices();
    void LoadBanner();
};

// The one main window of the run.
extern TMainForm* MainForm;

#pragma once
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmFiles.h"
#include "cpm/CpmWindowState.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The charge plate monitor's decay-time window: the decay parameters, a
// run with the live plate voltage, the results and their file, the read-out
// of the files stored in the monitor, and the way to the decay chart. It
// drives the decay instance of C_CPM_EF and is that instance's feeds.
class TCPMSetup : public QWidget, public ICpmFeeds {
    Q_OBJECT
public:
    explicit TCPMSetup(QWidget* parent = nullptr);

    QGroupBox* GBDisplay = nullptr;
    QPlainTextEdit* MemoDisplay = nullptr;
    QGroupBox* GroupBoxsetup = nullptr;
    QGroupBox* SelectMode = nullptr;
    QButtonGroup* SelectModeItems = nullptr;
    QGroupBox* GroupBoxParameters = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBoxVStart = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBoxVStop = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* ComboBoxOffsetTime = nullptr;
    QPushButton* ButtonReadSetup = nullptr;
    QPushButton* BitBtnStart = nullptr;
    QPushButton* BitBtnChart = nullptr;
    QPushButton* BitBtnBreak = nullptr;
    QPushButton* BitBtnReadFile = nullptr;
    QPushButton* BitBtnInfo = nullptr;
    QPushButton* ButtonClearDisplay = nullptr;
    QPushButton* BitBtnCancel = nullptr;
    QGroupBox* GroupBoxResult = nullptr;
    QGroupBox* GroupBoxPosDecayTime = nullptr;
    QLabel* LabelPosDecayTime = nullptr;
    QGroupBox* GroupBoxNegDecayTime = nullptr;
    QLabel* LabelNegDecayTime = nullptr;
    QGroupBox* GroupBoxOffset = nullptr;
    QLabel* LabelOffset = nullptr;
    QPushButton* BitBtnSaveResult = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtnOK = nullptr;
    // Beside "OK &save": leaves the comment entry without writing anything.
    QPushButton* BitBtnCancelSave = nullptr;

    // Read-out data, indexed by file number.
    std::array<std::string, 100> StoredRecords;
    std::array<QString, 100> StoredComments;

    // --- handlers ----------------------------------------------------------------
    void BitBtnStartClick();
    void BitBtnBreakClick();
    void BitBtnInfoClick();
    void ButtonReadSetupClick();
    void ButtonClearDisplayClick();
    void BitBtnCancelClick();
    void BitBtnSaveResultClick();
    void BitBtnOKClick();
    void BitBtnCancelSaveClick();
    void BitBtnReadFileClick();
    void BitBtnChartClick();

    // --- operations ----------------------------------------------------------------
    // Kept for the handlers' order of work: on = the idle controls, off = those
    // of a running exchange. Both go through the window's state.
    void EnableControls(bool on);
    void SendDecaySetup();
    int AskFileRange(int& first, int& last);
    int ReadAndReportFiles(int first, int& last);
    int AskFileComments(int first, int last);

    int SelectModeIndex() const;
    void SetSelectModeIndex(int index);
    // The decay instance, with this window as its feeds.
    C_CPM_EF& Cpm();

    // --- state -----------------------------------------------------------------------
    TCpmWindowState State() const { return state_; }
    // Sets the state and shows it on every control.
    void SetState(TCpmWindowState state);
    bool Allowed(TCpmAction action) const;
    // True while a run waits for its frames (Break included).
    bool Running() const { return state_ == TCpmWindowState::Measuring || state_ == TCpmWindowState::Breaking; }
    // The result of the last run that ended complete and is not saved yet,
    // with the mode it ran in: what "Save results" writes.
    struct TRunResult {
        TCpmResult Result;
        std::string Mode; // setup value 5 as sent for the run ("16", "33", "50")
    };
    const std::optional<TRunResult>& UnsavedResult() const { return unsaved_; }

    // The file dialog of both saves; tests put their own choice in its place.
    // `fileName` comes in as the proposed name (without folder) and goes out
    // as the chosen path.
    std::function<bool(const QString& initialDir, QString& fileName)> ChooseSaveFile;

    // --- ICpmFeeds -----------------------------------------------------------------
    void SetOffsetCaption(const QString& text) override;
    void SetVoltageText(const QString& text) override;
    void ClearChart() override;
    void AddPoint(TCpmSeries series, double x, double y, TCpmColour colour) override;
    void ClearMemo() override;
    void SetMemoFontSize(int points) override;
    void AddMemoLine(const QString& line) override;
    bool AskSaveFileName(const QString& initialDir, QString& fileName) override;
    void DataDirectoryUpdate(const QString& fileName) override;

    bool Abandoned() const override;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    friend class TCpmExchange;
    // After a port error inside an exchange: the window usable again, its
    // progress texts cleared, and the port closed and, where the device is
    // still there, open again.
    void RecoverFromPortError();
    void ApplyState();
    enum class TCommentAnswer { None, Ok, Cancel };

    TCpmWindowState state_ = TCpmWindowState::Idle;
    std::optional<TRunResult> unsaved_;
    TCommentAnswer commentAnswer_ = TCommentAnswer::None;
    // Counts the times the window was left by Exit; each exchange on the
    // stack remembers the count it began under, so one that outlived its
    // window ends without touching the line or the new window's state.
    int session_ = 0;
    std::vector<int> exchangeSessions_;
    // The folders last used for each kind of file in this run of the program.
    QString resultsDir_, filesDir_;
};

extern TCPMSetup* CPMSetup;

#pragma once
#include "platform/VersionInfo.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QCloseEvent;
class QKeyEvent;
class QShowEvent;

// The "Info" window of the help entry "?": a short operating instruction and
// the version facts of the program's own executable. A tool window on top of
// the others; "OK" is its way out and gives the main window its menus back.
class TFormHelp : public QWidget {
    Q_OBJECT
public:
    using TFileInfo = ::TFileInfo;

    explicit TFormHelp(QWidget* parent = nullptr);

    QGroupBox* Help_GroupBox1 = nullptr;
    QPlainTextEdit* HelpMemo = nullptr;
    QPushButton* HelpOKButton = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPlainTextEdit* MemoVersions = nullptr;

    // Rebuilds both texts (done at every opening).
    void FillHelp();
    void HelpOKButtonClick();
    // The version text of the running executable ("\r\n" line ends).
    QString GetVersionInfo(TFileInfo& FileInfo);

    // The settings files in use, one line each after the version facts:
    // "Settings read  \t" and SETUP_ULMARO.INI's path (or that none was
    // found), "Settings saved \t" and SETUP.INI's path.
    static QString SettingsFilesText();

    // The instruction exactly as the program writes it ("\r\n" line ends).
    static const char* const HelpText;

    // Grows the memos, their group boxes and the window until both texts
    // fit without scrolling; never below the design size.
    void FitToText();

protected:
    // Escape is the keyboard's OK.
    void keyPressEvent(QKeyEvent* event) override;
    // Opened, the window takes the keyboard, with OK as the focus, so that
    // Escape and Return reach it at once.
    void showEvent(QShowEvent* event) override;
    // The frame has no buttons, but a window manager may still close the
    // window (Alt+F4): that counts as OK, or the menus would stay disabled.
    void closeEvent(QCloseEvent* event) override;
};

extern TFormHelp* FormHelp;

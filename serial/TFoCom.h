#pragma once
#include "serial/ComPort.h"
#include "widgets/LazyChild.h"

#include <QFileDialog>
#include <QPlainTextEdit>
#include <QWidget>

// The hidden form that owns the program's one serial port and the save
// dialog of the charge plate monitor files. Created at start, never shown.
class TFoCom : public QWidget {
    Q_OBJECT
public:
    explicit TFoCom(QWidget* parent = nullptr);
    ~TFoCom() override;

    // Every serial instrument talks through this port, one at a time.
    TComPort* ComPort1 = nullptr;
    // Made on its first use (see LazyChild.h).
    TLazyChild<QFileDialog> SaveDialog1;
    // Carried on the form for diagnostics; nothing writes to it.
    QPlainTextEdit* MemoTestOutput = nullptr;

    // Closes ComPort1 (the charge plate monitor window's exit).
    void ClosePort();
    // After a charge plate monitor file was saved as `fileName`: remembers
    // its folder in CpmDataDirectory and SETUP.INI when it is a new one.
    void UpdateCpmDataDirectory(const QString& fileName);
};

extern TFoCom* FoCom;

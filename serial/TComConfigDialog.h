#pragma once
#include "serial/ComTypes.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <string>

// The line settings dialog of a serial port: starts from a device record and,
// when confirmed, writes the chosen values back into it.
class TComConfigDialog : public QDialog {
    Q_OBJECT
public:
    explicit TComConfigDialog(const QString& portName, QWidget* parent = nullptr);

    QComboBox* ComboBaudRate = nullptr;
    QComboBox* ComboDataBits = nullptr;
    QComboBox* ComboParity = nullptr;
    QComboBox* ComboStopBits = nullptr;
    QComboBox* ComboDTR = nullptr;
    QComboBox* ComboRTS = nullptr;
    QComboBox* ComboXOnXOff = nullptr;
    QDialogButtonBox* Buttons = nullptr;

    void LoadFrom(const TDeviceLineSettings& rec);
    // False when the typed baud rate is not a positive number.
    bool StoreTo(TDeviceLineSettings& rec) const;

    // Shows the dialog modally (no owner window); true when confirmed.
    static bool Execute(const std::string& portName, TDeviceLineSettings& rec);
};

// Makes the port component use this dialog for ConfigDialog.
void InstallComConfigDialog();

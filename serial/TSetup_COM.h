#pragma once
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <functional>

// The port selection window. Its construction at start picks the stored
// port; afterwards the user may choose another one or set line parameters.
class TSetup_COM : public QWidget {
    Q_OBJECT
public:
    explicit TSetup_COM(QWidget* parent = nullptr);

    QGroupBox* SetupCOM = nullptr;
    QComboBox* ComboBoxDeviceName = nullptr;
    QPushButton* BtSetComPara = nullptr;
    QPushButton* BtOK = nullptr;

    void ComboBoxDeviceNameChange();
    void BtSetComParaClick();
    void BtOKClick();

    // Where the list of ports comes from (the system's by default); tests put
    // another source in place before the window is created. The named ports
    // are listed beside them.
    static std::function<void(QStringList&)> PortLister;

    // The device a chosen name stands for: a named port's own device (see
    // serial/NamedPorts.h), else "/dev/" + name, a typed absolute path as it
    // is, nothing for no name.
    static QString DevicePathFor(const QString& name);
    // Whether the device a name stands for is there (a port remembered from
    // an earlier run may have been unplugged since).
    static bool PortExists(const QString& name);
    // A port is usable when a name was chosen.
    static bool UsablePortName(const QString& name) { return !name.isEmpty(); }
};

extern TSetup_COM* Setup_COM;

#include "serial/TSetup_COM.h"

#include "core/MainLink.h"
#include "core/MainState.h"
#include "platform/Host.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "serial/NamedPorts.h"
#include "serial/TFoCom.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <algorithm>

TSetup_COM* Setup_COM = nullptr;

std::function<void(QStringList&)> TSetup_COM::PortLister = [](QStringList& list) {
    TCustomComPort::EnumComDevicesFromRegistry(list);
};

QString TSetup_COM::DevicePathFor(const QString& name)
{
    if (const QString device = NamedPortDevice(name); !device.isEmpty())
        return device;
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
}

bool TSetup_COM::PortExists(const QString& name)
{
    const QString device = DevicePathFor(name);
    return !device.isEmpty() && QFileInfo::exists(device);
}

TSetup_COM::TSetup_COM(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Setup"));
    setFixedSize(265, 150);

    SetupCOM = new QGroupBox(QStringLiteral("SetupCOM (CPM / Ohmra)"), this);
    SetupCOM->setGeometry(8, 8, 249, 134);
    ComboBoxDeviceName = new QComboBox(SetupCOM);
    ComboBoxDeviceName->setGeometry(16, 28, 217, 24);
    ComboBoxDeviceName->setEditable(true);
    ComboBoxDeviceName->setInsertPolicy(QComboBox::NoInsert);
    ComboBoxDeviceName->setEditText(QStringLiteral("COM1"));
    BtSetComPara = new QPushButton(QStringLiteral("Set Com Parameters"), SetupCOM);
    BtSetComPara->setGeometry(16, 62, 217, 27);
    BtOK = new QPushButton(QStringLiteral("OK"), SetupCOM);
    BtOK->setGeometry(16, 96, 217, 27);

    // Scripts and GUI drivers find the form and its controls by their names.
    setObjectName(QStringLiteral("Setup_COM"));
    SetupCOM->setObjectName(QStringLiteral("SetupCOM"));
    ComboBoxDeviceName->setObjectName(QStringLiteral("ComboBoxDeviceName"));
    BtSetComPara->setObjectName(QStringLiteral("BtSetComPara"));
    BtOK->setObjectName(QStringLiteral("BtOK"));

    // The initial port configuration.
    TIniFile ini(SetupIniPath());
    QStringList names;
    if (PortLister)
        PortLister(names);
    for (const TNamedPort& p : NamedPorts())
        names.append(p.Name);
    // The list is kept sorted, so COM10 stands before COM2 and ttyS10 before ttyS2.
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    ComboBoxDeviceName->addItems(names);
    // The port is remembered by its name: the list shifts when an adapter
    // is plugged in or out, and a stored index would then name another
    // port. The index counts where the name is not stored (an older
    // SETUP.INI) or its port is gone.
    const QString storedName = QString::fromStdString(ini.ReadString("CPM", "ComPortName", ""));
    const int stored = ini.ReadInteger("CPM", "ComPortIndex", 0);
    const int byName = ComboBoxDeviceName->findText(storedName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!storedName.isEmpty() && byName >= 0) {
        ComboBoxDeviceName->setCurrentIndex(byName);
    } else if (!storedName.isEmpty() && PortExists(storedName)) {
        ComboBoxDeviceName->setCurrentIndex(-1); // a typed port, not in the list
        ComboBoxDeviceName->setEditText(storedName);
    } else if (stored >= 0 && stored < ComboBoxDeviceName->count()) {
        ComboBoxDeviceName->setCurrentIndex(stored);
    } else {
        ComboBoxDeviceName->setCurrentIndex(-1);
        ComboBoxDeviceName->setEditText(QString());
    }
    const QString name = ComboBoxDeviceName->currentText();
    if (MainState) {
        MainState->ComPortIndex = ComboBoxDeviceName->currentIndex();
        MainState->ComPortName = name;
    }
    if (FoCom)
        FoCom->ComPort1->DeviceName(DevicePathFor(name).toStdString());
    CallHook(MainLink().PortNameChanged);
    CallHook(MainLink().SerialMenusEnabled, UsablePortName(name), true);

    // A pick from the list takes effect at once; a typed name once it is
    // complete (Enter or leaving the field), not at every keystroke.
    connect(ComboBoxDeviceName, &QComboBox::activated, this, [this](int) { ComboBoxDeviceNameChange(); });
    connect(ComboBoxDeviceName->lineEdit(), &QLineEdit::editingFinished, this, [this] { ComboBoxDeviceNameChange(); });
    connect(BtSetComPara, &QPushButton::clicked, this, [this] { BtSetComParaClick(); });
    connect(BtOK, &QPushButton::clicked, this, [this] { BtOKClick(); });
}

void TSetup_COM::ComboBoxDeviceNameChange()
{
    if (!MainState || !FoCom)
        return;
    const QString name = ComboBoxDeviceName->currentText();
    const int index = ComboBoxDeviceName->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // Typed names that match no entry all count as index -1; tell them apart
    // by the name, so that a second typed name is not ignored.
    if (index == MainState->ComPortIndex && (index >= 0 || name == MainState->ComPortName))
        return;
    MainState->ComPortIndex = index;
    TComPort* port = FoCom->ComPort1;
    port->Close();
    MainState->ComPortName = name;
    port->DeviceName(DevicePathFor(name).toStdString());
    {
        TIniFile ini(SetupIniPath());
        ini.WriteInteger("CPM", "ComPortIndex", index);
        ini.WriteString("CPM", "ComPortName", name.toStdString());
    }
    const bool usable = UsablePortName(name);
    // Without a name there is nothing to open; the message below says so.
    if (usable)
        port->Open();
    Host().ProcessMessages();
    if (usable) {
        CallHook(MainLink().SerialMenusEnabled, true, false);
    } else {
        QMessageBox::critical(this, QStringLiteral("Missing COM-Port"),
                              QStringLiteral("COM Port not available, please choose another !"), QMessageBox::Ok);
    }
}

void TSetup_COM::BtSetComParaClick()
{
    ComboBoxDeviceName->setEnabled(false);
    BtSetComPara->setEnabled(false);
    BtOK->setEnabled(false);
    struct Reenable {
        TSetup_COM* w;
        ~Reenable()
        {
            w->ComboBoxDeviceName->setEnabled(true);
            w->BtSetComPara->setEnabled(true);
            w->BtOK->setEnabled(true);
        }
    } reenable{this};
    if (FoCom)
        FoCom->ComPort1->ConfigDialog();
}

void TSetup_COM::BtOKClick()
{
    hide();
}

#include "serial/TComConfigDialog.h"

#include "serial/ComPort.h"

#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TComConfigDialog::TComConfigDialog(const QString& portName, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(portName.isEmpty() ? QStringLiteral("Port Settings") : portName + QStringLiteral(" Properties"));
    auto* form = new QFormLayout;

    ComboBaudRate = new QComboBox(this);
    ComboBaudRate->setEditable(true);
    ComboBaudRate->setInsertPolicy(QComboBox::NoInsert);
    for (int br = br110; br < brCustom; ++br)
        ComboBaudRate->addItem(QString::number(BaudRateValue(TBaudRate(br))));
    ComboBaudRate->lineEdit()->setValidator(new QIntValidator(1, 4000000, ComboBaudRate));
    form->addRow(QStringLiteral("&Bits per second:"), ComboBaudRate);

    ComboDataBits = new QComboBox(this);
    ComboDataBits->addItems({"5", "6", "7", "8"});
    form->addRow(QStringLiteral("&Data bits:"), ComboDataBits);

    ComboParity = new QComboBox(this);
    ComboParity->addItems({"None", "Odd", "Even", "Mark", "Space"});
    form->addRow(QStringLiteral("&Parity:"), ComboParity);

    ComboStopBits = new QComboBox(this);
    ComboStopBits->addItems({"1", "1.5", "2"});
    form->addRow(QStringLiteral("&Stop bits:"), ComboStopBits);

    ComboDTR = new QComboBox(this);
    ComboDTR->addItems({"Off", "On", "Handshake"});
    form->addRow(QStringLiteral("D&TR:"), ComboDTR);

    ComboRTS = new QComboBox(this);
    ComboRTS->addItems({"Off", "On", "Handshake", "Toggle"});
    form->addRow(QStringLiteral("&RTS:"), ComboRTS);

    ComboXOnXOff = new QComboBox(this);
    ComboXOnXOff->addItems({"None", "Input", "Output", "Input and output"});
    form->addRow(QStringLiteral("&Xon / Xoff:"), ComboXOnXOff);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, [this] {
        TDeviceLineSettings probe;
        if (StoreTo(probe))
            accept();
    });
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(Buttons);

    // Scripts and GUI drivers find the dialog, its fields and their captions
    // by name ("ComboParity", "LabelParity").
    setObjectName(QStringLiteral("ComConfigDialog"));
#define COM_CONFIG_NAME(member) member->setObjectName(QStringLiteral(#member))
    COM_CONFIG_NAME(ComboBaudRate);
    COM_CONFIG_NAME(ComboDataBits);
    COM_CONFIG_NAME(ComboParity);
    COM_CONFIG_NAME(ComboStopBits);
    COM_CONFIG_NAME(ComboDTR);
    COM_CONFIG_NAME(ComboRTS);
    COM_CONFIG_NAME(ComboXOnXOff);
    COM_CONFIG_NAME(Buttons);
#undef COM_CONFIG_NAME
    for (QComboBox* field : {ComboBaudRate, ComboDataBits, ComboParity, ComboStopBits, ComboDTR, ComboRTS, ComboXOnXOff})
        if (QWidget* label = form->labelForField(field))
            label->setObjectName(QStringLiteral("Label") + field->objectName().mid(5));
    Buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtonOK"));
    Buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ButtonCancel"));
}

void TComConfigDialog::LoadFrom(const TDeviceLineSettings& rec)
{
    ComboBaudRate->setCurrentText(QString::number(rec.BaudRate));
    ComboDataBits->setCurrentIndex(rec.ByteSize >= 5 && rec.ByteSize <= 8 ? rec.ByteSize - 5 : 3);
    ComboParity->setCurrentIndex(rec.Parity <= 4 ? rec.Parity : 0);
    ComboStopBits->setCurrentIndex(rec.StopBits <= 2 ? rec.StopBits : 0);
    ComboDTR->setCurrentIndex(rec.DtrControl <= 2 ? rec.DtrControl : 1);
    ComboRTS->setCurrentIndex(rec.RtsControl <= 3 ? rec.RtsControl : 1);
    ComboXOnXOff->setCurrentIndex((rec.InX ? 1 : 0) + (rec.OutX ? 2 : 0));
}

bool TComConfigDialog::StoreTo(TDeviceLineSettings& rec) const
{
    bool ok = false;
    const uint rate = ComboBaudRate->currentText().trimmed().toUInt(&ok);
    if (!ok || rate == 0)
        return false;
    rec.BaudRate = rate;
    rec.ByteSize = uint8_t(ComboDataBits->currentIndex() + 5);
    rec.Parity = uint8_t(ComboParity->currentIndex());
    rec.StopBits = uint8_t(ComboStopBits->currentIndex());
    rec.DtrControl = uint8_t(ComboDTR->currentIndex());
    rec.RtsControl = uint8_t(ComboRTS->currentIndex());
    const int x = ComboXOnXOff->currentIndex();
    rec.InX = (x & 1) != 0;
    rec.OutX = (x & 2) != 0;
    return true;
}

bool TComConfigDialog::Execute(const std::string& portName, TDeviceLineSettings& rec)
{
    TComConfigDialog dlg(QString::fromStdString(portName));
    dlg.LoadFrom(rec);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    return dlg.StoreTo(rec);
}

void InstallComConfigDialog()
{
    TCustomComPort::ConfigDialogHook = &TComConfigDialog::Execute;
}

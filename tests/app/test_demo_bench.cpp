// The composition root's choice of backends: with --demo the simulated
// converter is the converter code's table and every simulated serial
// instrument is offered in the port list under its plain name; choosing one
// opens its pseudo-terminal like any port.
#include "acquisition/UsbApi.h"
#include "app/AppWindows.h"
#include "app/DemoBench.h"
#include "app/SimUsbApi.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "serial/NamedPorts.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "sim/PtyPeer.h"
#include "sim/SimInstrument.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WholeProgramTest.h"

#include <gtest/gtest.h>

namespace {

// Answers every byte with the byte after it.
class NextByte final : public ISimInstrument {
public:
    void OnByte(uint8_t byte, ISimLine& line) override { line.Send(std::string(1, char(byte + 1))); }
};

class DemoBenchTest : public WholeProgramTest {
protected:
    static QStringList Listed()
    {
        QStringList names;
        for (int i = 0; i < Setup_COM->ComboBoxDeviceName->count(); ++i)
            names << Setup_COM->ComboBoxDeviceName->itemText(i);
        return names;
    }
    static void Choose(const QString& name)
    {
        const int i = Setup_COM->ComboBoxDeviceName->findText(name);
        ASSERT_GE(i, 0) << name.toStdString();
        Setup_COM->ComboBoxDeviceName->setCurrentIndex(i);
        Setup_COM->ComboBoxDeviceNameChange();
    }
};

TEST_F(DemoBenchTest, WithDemoEverySimulatedInstrumentIsListedBesideTheRealPorts)
{
    const char* args[] = {"ulmaro", "--demo"};
    CreateAllWindows(2, args, true);
    EXPECT_EQ(&UsbApi(), &SimulatedUsbApi());
    const QStringList names = Listed();
    EXPECT_TRUE(names.contains("ttyS0"));
    ASSERT_FALSE(DemoInstruments().empty());
    for (const TDemoInstrument& i : DemoInstruments())
        EXPECT_TRUE(names.contains(QString::fromUtf8(i.PortName))) << i.PortName;
    EXPECT_EQ(names.size(), int(DemoInstruments().size()) + 1);

    // Each opens its own pseudo-terminal under its plain name.
    for (const TDemoInstrument& i : DemoInstruments()) {
        const QString name = QString::fromUtf8(i.PortName);
        Choose(name);
        EXPECT_EQ(MainForm->ComPortName, name);
        EXPECT_TRUE(FoCom->ComPort1->Active()) << i.PortName;
        EXPECT_EQ(QString::fromStdString(FoCom->ComPort1->DeviceName()), NamedPortDevice(name));
        EXPECT_TRUE(FoCom->ComPort1->DeviceName().rfind("/dev/pts/", 0) == 0) << FoCom->ComPort1->DeviceName();
    }

    // Behind the charge plate monitor's name a monitor answers: ENQ gets ACK.
    Choose("Karvo (simulated)");
    FoCom->ComPort1->WriteByte(0x05);
    EXPECT_EQ(FoCom->ComPort1->ReadByte(), 0x06);

    DestroyAllWindows();
    EXPECT_EQ(&UsbApi(), &RealUsbApi());
    EXPECT_TRUE(NamedPorts().empty());
}

TEST_F(DemoBenchTest, WithoutDemoNothingSimulatedIsOffered)
{
    const char* args[] = {"ulmaro"};
    CreateAllWindows(1, args, false);
    EXPECT_EQ(&UsbApi(), &RealUsbApi());
    EXPECT_EQ(Listed(), QStringList{"ttyS0"});
}

TEST_F(DemoBenchTest, ChoosingASimulatedPortReachesTheHostedInstrument)
{
    TDemoBench bench;
    auto toy = std::make_unique<NextByte>();
    PtyPeer& peer = bench.Add("Toy (simulated)", std::move(toy));
    const char* args[] = {"ulmaro"};
    CreateAllWindows(1, args, false);

    // Sorted first, so the stored index 0 picks it at start; an instrument
    // entry then opens it.
    EXPECT_EQ(Listed(), (QStringList{"Toy (simulated)", "ttyS0"}));
    MainForm->ReopenPortForInstrument(false, false);
    TComPort& port = *FoCom->ComPort1;
    ASSERT_TRUE(port.Active());
    EXPECT_EQ(port.DeviceName(), peer.SlavePath());
    EXPECT_EQ(MainForm->ComPortName, "Toy (simulated)");
    EXPECT_EQ(TSetup_COM::DevicePathFor("Toy (simulated)").toStdString(), peer.SlavePath());
    // The serial instruments' entries are offered as for any chosen port.
    EXPECT_TRUE(MainForm->Karvo1->menuAction()->isEnabled());

    port.WriteChar('A');
    EXPECT_EQ(port.ReadChar(), 'B');
    EXPECT_TRUE(WaitUntil([&] { return peer.Received() == "A"; }));
}

} // namespace

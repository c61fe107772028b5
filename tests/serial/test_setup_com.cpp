// The serial form and the port selection window inside the whole program,
// with a list of ports the test chooses (pseudo-terminals where a port must
// really open: "pts/N" stands for /dev/pts/N).
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "cpm/TCPMSetup.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "serial/TComConfigDialog.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "sim/PtyPeer.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdio>
#include <thread>

namespace {

QString PtsName(const PtyPeer& peer)
{
    return QString::fromStdString(peer.SlavePath()).mid(5); // without "/dev/"
}

// A hidden menu reads as disabled whatever it was told; the Gripo menu is
// hidden from the start, so it is shown before its state is looked at.
bool MenuEnabled(QMenu* menu)
{
    menu->menuAction()->setVisible(true);
    return menu->menuAction()->isEnabled();
}

class SetupComTest : public ::testing::Test {
protected:
    TempDir dir;
    QStringList ports;

    void Start(int storedIndex = -100)
    {
        if (storedIndex != -100)
            dir.write("SETUP.INI", "[CPM]\nComPortIndex=" + std::to_string(storedIndex) + "\n");
        SetSettingsDirectoryOverride(dir.path());
        TSetup_COM::PortLister = [this](QStringList& list) { list += ports; };
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
    }
    void TearDown() override
    {
        if (MainForm)
            DestroyAllWindows();
        TSetup_COM::PortLister = [](QStringList& list) { TCustomComPort::EnumComDevicesFromRegistry(list); };
        TCustomComPort::ConfigDialogHook = nullptr;
        SetSettingsDirectoryOverride("");
    }
    std::string ReadWholeIni() const
    {
        std::FILE* f = std::fopen(dir.file("SETUP.INI").c_str(), "rb");
        std::string s;
        if (!f)
            return s;
        char buf[512];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            s.append(buf, n);
        std::fclose(f);
        return s;
    }
    int StoredIndex(int def = -999) const { return TIniFile(dir.file("SETUP.INI")).ReadInteger("CPM", "ComPortIndex", def); }
    bool IniExists() const
    {
        struct stat st{};
        return stat(dir.file("SETUP.INI").c_str(), &st) == 0;
    }
    void Choose(int index)
    {
        Setup_COM->ComboBoxDeviceName->setCurrentIndex(index);
        Setup_COM->ComboBoxDeviceNameChange();
    }
    void Type(const QString& text)
    {
        Setup_COM->ComboBoxDeviceName->setEditText(text);
        Setup_COM->ComboBoxDeviceNameChange();
    }
};

// Answers the next modal message box (after noting what it said) with OK.
struct MessageBoxCatcher {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int seen = 0;
    void Arm()
    {
        QTimer::singleShot(0, [this] { Catch(); });
    }
    void Catch()
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            ++seen;
            box->accept();
        } else {
            QTimer::singleShot(5, [this] { Catch(); });
        }
    }
};

} // namespace

TEST_F(SetupComTest, TheWindowAndTheFormCarryTheirDesignValues)
{
    Start();
    EXPECT_EQ(Setup_COM->windowTitle(), "Setup");
    EXPECT_EQ(Setup_COM->SetupCOM->title(), "SetupCOM (CPM / Ohmra)");
    EXPECT_EQ(Setup_COM->BtSetComPara->text(), "Set Com Parameters");
    EXPECT_EQ(Setup_COM->BtOK->text(), "OK");
    EXPECT_TRUE(Setup_COM->ComboBoxDeviceName->isEditable());
    EXPECT_FALSE(Setup_COM->isVisible());

    TComPort* port = FoCom->ComPort1;
    EXPECT_FALSE(port->Active());
    EXPECT_EQ(port->BaudRate(), br2400);
    EXPECT_EQ(port->DataBits(), db8);
    EXPECT_EQ(port->Parity(), paDefault);
    EXPECT_EQ(port->StopBits(), sbDefault);
    EXPECT_EQ(port->FlowControl->DTR(), dcDisable);
    EXPECT_EQ(port->FlowControl->RTS(), rcDisable);
    EXPECT_EQ(port->FlowControl->XOnXOff(), xcDisable);
    EXPECT_TRUE(port->Options().Empty());
    EXPECT_EQ(port->Timeouts->Record(), (TDeviceTimeouts{1000, 1000, 1000, 1000, 1000}));

    QFileDialog* save = FoCom->SaveDialog1;
    EXPECT_EQ(save->windowTitle(), "Save Data");
    EXPECT_EQ(save->defaultSuffix(), "csv");
    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(save->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(save->nameFilters(), QStringList{"CSV (*.csv)"});
    EXPECT_EQ(save->directory().absolutePath() + "/", QString::fromStdString(HomeDirectory()));
    ASSERT_NE(FoCom->MemoTestOutput, nullptr);
    EXPECT_EQ(FoCom->MemoTestOutput->toPlainText(), "MemoTestOutput");
    EXPECT_FALSE(FoCom->isVisible());
}

TEST_F(SetupComTest, TheSaveDialogTakesNamesOnlyInFoldersThatExist)
{
    Start();
    QFileDialog* save = FoCom->SaveDialog1;
    const QString base = QString::fromStdString(dir.path());
    save->setDirectory(base);
    save->selectFile(base + "/no such folder/run1.csv");
    MessageBoxCatcher box;
    box.Arm();
    QMetaObject::invokeMethod(save, "accept"); // as the Save button does
    EXPECT_EQ(box.seen, 1);
    EXPECT_EQ(box.title, "Save Data");
    EXPECT_TRUE(box.text.contains("Path does not exist.")) << box.text.toStdString();
    EXPECT_NE(save->result(), QDialog::Accepted);

    save->setDirectory(base);
    save->selectFile(base + "/run1.csv");
    QMetaObject::invokeMethod(save, "accept"); // as the Save button does
    EXPECT_EQ(box.seen, 1);
    EXPECT_EQ(save->result(), QDialog::Accepted);
    EXPECT_EQ(save->selectedFiles().value(0), base + "/run1.csv");
}

TEST_F(SetupComTest, TheListIsSortedAndTheStoredIndexPicksFromIt)
{
    ports = {"COM2", "COM10", "COM1"};
    Start(2);
    QStringList shown;
    for (int i = 0; i < Setup_COM->ComboBoxDeviceName->count(); ++i)
        shown << Setup_COM->ComboBoxDeviceName->itemText(i);
    EXPECT_EQ(shown, (QStringList{"COM1", "COM10", "COM2"}));
    EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentText(), "COM2");
    EXPECT_EQ(MainForm->ComPortIndex, 2);
    EXPECT_EQ(MainForm->ComPortName, "COM2");
    EXPECT_EQ(FoCom->ComPort1->DeviceName(), "/dev/COM2");
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_EQ(CPMSetup->windowTitle(), "CHARGE-PLATE Monitor / Port : COM2");
    EXPECT_TRUE(MenuEnabled(MainForm->Karvo1));
    EXPECT_TRUE(MenuEnabled(MainForm->Ohmra1));
    EXPECT_TRUE(MenuEnabled(MainForm->Gripo1));
}

TEST_F(SetupComTest, WithoutASettingsFileTheFirstPortIsTaken)
{
    ports = {"ttyUSB0", "ttyS0"};
    Start();
    EXPECT_EQ(MainForm->ComPortIndex, 0);
    EXPECT_EQ(MainForm->ComPortName, "ttyS0");
    EXPECT_EQ(FoCom->ComPort1->DeviceName(), "/dev/ttyS0");
    EXPECT_FALSE(IniExists()); // reading creates nothing
}

TEST_F(SetupComTest, AStoredIndexOutsideTheListSelectsNothingAndDisablesTheInstruments)
{
    for (int stored : {2, -1}) {
        ports = {"COM1", "COM2"};
        Start(stored);
        EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentIndex(), -1) << stored;
        EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentText(), "");
        EXPECT_EQ(MainForm->ComPortIndex, -1);
        EXPECT_EQ(MainForm->ComPortName, "");
        EXPECT_EQ(FoCom->ComPort1->DeviceName(), "");
        EXPECT_EQ(CPMSetup->windowTitle(), "CHARGE-PLATE Monitor / Port : ");
        EXPECT_FALSE(MenuEnabled(MainForm->Karvo1));
        EXPECT_FALSE(MenuEnabled(MainForm->Ohmra1));
        EXPECT_FALSE(MenuEnabled(MainForm->Gripo1));
        DestroyAllWindows();
    }
    // No ports at all: the same.
    ports.clear();
    Start();
    EXPECT_EQ(MainForm->ComPortName, "");
    EXPECT_FALSE(MenuEnabled(MainForm->Karvo1));
}

TEST_F(SetupComTest, ChoosingAPortOpensItStoresTheIndexAndEnablesTwoInstruments)
{
    PtyPeer a, b;
    ports = {PtsName(a), PtsName(b)};
    Start(5);
    ASSERT_FALSE(MenuEnabled(MainForm->Karvo1));
    const int indexOfB = Setup_COM->ComboBoxDeviceName->findText(PtsName(b));
    Choose(indexOfB);
    TComPort* port = FoCom->ComPort1;
    EXPECT_TRUE(port->Active()); // left open although no instrument runs
    EXPECT_EQ(port->DeviceName(), b.SlavePath());
    EXPECT_EQ(MainForm->ComPortIndex, indexOfB);
    EXPECT_EQ(MainForm->ComPortName, PtsName(b));
    EXPECT_EQ(StoredIndex(), indexOfB);
    EXPECT_TRUE(MenuEnabled(MainForm->Karvo1));
    EXPECT_TRUE(MenuEnabled(MainForm->Ohmra1));
    EXPECT_FALSE(MenuEnabled(MainForm->Gripo1)); // keeps its state
    // The open port is B's.
    b.WriteNow("b");
    EXPECT_EQ(port->ReadByte(), 'b');

    // Another choice closes the first port and opens the new one.
    Choose(1 - indexOfB);
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(port->DeviceName(), a.SlavePath());
    EXPECT_EQ(StoredIndex(), 1 - indexOfB);
}

TEST_F(SetupComTest, ReselectingTheChosenEntryDoesNothing)
{
    PtyPeer a, b;
    ports = {PtsName(a), PtsName(b)};
    Start(0);
    ASSERT_EQ(std::remove(dir.file("SETUP.INI").c_str()), 0);
    Choose(0);
    EXPECT_FALSE(IniExists()); // nothing written
    EXPECT_FALSE(FoCom->ComPort1->Active()); // nor opened
    // Another entry is stored even though the settings file went away.
    Choose(1);
    EXPECT_TRUE(IniExists());
    EXPECT_EQ(StoredIndex(), 1);
    EXPECT_TRUE(FoCom->ComPort1->Active());
}

TEST_F(SetupComTest, APortThatCannotBeOpenedRaisesButTheIndexIsStored)
{
    PtyPeer a;
    ports = {"ulmaro-no-such-port", PtsName(a)};
    Start(7);
    const int missing = Setup_COM->ComboBoxDeviceName->findText("ulmaro-no-such-port");
    try {
        Choose(missing);
        ADD_FAILURE() << "no error";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Code, ENOENT);
    }
    EXPECT_EQ(StoredIndex(), missing);
    EXPECT_EQ(MainForm->ComPortIndex, missing);
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_FALSE(MenuEnabled(MainForm->Karvo1)); // the handler ended before
}

TEST_F(SetupComTest, TypedNamesAreUsedAsTheyAre)
{
    PtyPeer a, b;
    ports = {"COM1"};
    Start(0);
    Type(QString::fromStdString(a.SlavePath()));
    EXPECT_EQ(MainForm->ComPortIndex, -1);
    EXPECT_EQ(StoredIndex(), -1);
    EXPECT_EQ(FoCom->ComPort1->DeviceName(), a.SlavePath());
    EXPECT_TRUE(FoCom->ComPort1->Active());
    // A second typed name is another choice, not a repeat of index -1.
    Type(PtsName(b));
    EXPECT_EQ(FoCom->ComPort1->DeviceName(), b.SlavePath());
    EXPECT_TRUE(FoCom->ComPort1->Active());
    // The same typed name again changes nothing.
    FoCom->ComPort1->Close();
    Type(PtsName(b));
    EXPECT_FALSE(FoCom->ComPort1->Active());
}

// The port is found again by its name: the list moved, SETUP.INI is an
// older one with the index alone, the port was typed as a path, or the
// named port is gone (the index counts then, as it always did).
TEST_F(SetupComTest, TheStoredPortNameWinsOverTheIndexWhereThatPortIsThere)
{
    PtyPeer typed;
    const std::string path = typed.SlavePath();
    struct Case {
        const char* what;
        std::string ini;
        QString text;
        int index;
    } cases[] = {
        {"the list moved", "[CPM]\nComPortIndex=1\nComPortName=ttyUSB1\n", "ttyUSB1", 2},
        {"an older file", "[CPM]\nComPortIndex=1\n", "ttyUSB0", 1},
        {"a typed path", "[CPM]\nComPortIndex=-1\nComPortName=" + path + "\n", QString::fromStdString(path), -1},
        {"the named port is gone", "[CPM]\nComPortIndex=0\nComPortName=ttyACM7\n", "ttyS0", 0},
        {"a typed path that is gone", "[CPM]\nComPortIndex=-1\nComPortName=/dev/ulmaro-gone\n", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ports = {"ttyUSB1", "ttyS0", "ttyUSB0"};
        dir.write("SETUP.INI", c.ini);
        Start();
        EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentText(), c.text);
        EXPECT_EQ(MainForm->ComPortIndex, c.index);
        EXPECT_EQ(MainForm->ComPortName, c.text);
        EXPECT_EQ(QString::fromStdString(FoCom->ComPort1->DeviceName()), TSetup_COM::DevicePathFor(c.text));
        // A port found, listed or typed, enables all three instruments.
        const bool found = !c.text.isEmpty();
        EXPECT_EQ(MenuEnabled(MainForm->Karvo1), found);
        EXPECT_EQ(MenuEnabled(MainForm->Ohmra1), found);
        EXPECT_EQ(MenuEnabled(MainForm->Gripo1), found);
        EXPECT_EQ(ReadWholeIni(), c.ini); // reading writes nothing
        DestroyAllWindows();
    }
}

TEST_F(SetupComTest, AChosenPortIsStoredByNameAndFoundAgainAfterTheListMoved)
{
    PtyPeer a;
    const QString typed = QString::fromStdString(a.SlavePath());
    ports = {"ttyS0", "ttyUSB0"};
    Start(0);
    Type(typed);
    EXPECT_EQ(StoredIndex(), -1);
    EXPECT_EQ(TIniFile(dir.file("SETUP.INI")).ReadString("CPM", "ComPortName", "?"), a.SlavePath());
    DestroyAllWindows();
    Start();
    EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentText(), typed);
    EXPECT_TRUE(MenuEnabled(MainForm->Karvo1));
    EXPECT_TRUE(MenuEnabled(MainForm->Gripo1));

    try {
        Choose(1); // ttyUSB0
    } catch (const EComError&) {
        // No such device on this machine; the choice is stored all the same.
    }
    EXPECT_EQ(TIniFile(dir.file("SETUP.INI")).ReadString("CPM", "ComPortName", "?"), "ttyUSB0");
    DestroyAllWindows();
    // An adapter plugged in meanwhile stands before it in the list.
    ports = {"ttyACM0", "ttyS0", "ttyUSB0"};
    Start();
    EXPECT_EQ(Setup_COM->ComboBoxDeviceName->currentText(), "ttyUSB0");
    EXPECT_EQ(MainForm->ComPortIndex, 2);
}

TEST_F(SetupComTest, AnEmptyNameShowsTheMissingPortMessage)
{
    ports = {"COM1"};
    Start(0);
    MessageBoxCatcher box;
    box.Arm();
    Type("");
    EXPECT_EQ(box.seen, 1);
    EXPECT_EQ(box.title, "Missing COM-Port");
    EXPECT_EQ(box.text, "COM Port not available, please choose another !");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_EQ(MainForm->ComPortName, "");
    EXPECT_TRUE(MenuEnabled(MainForm->Karvo1)); // menus keep their state
}

TEST_F(SetupComTest, SetComParametersRunsTheDialogAndReenablesTheControls)
{
    PtyPeer a;
    ports = {PtsName(a)};
    Start(0);
    bool controlsWereDisabled = false;
    TCustomComPort::ConfigDialogHook = [&](const std::string& name, TDeviceLineSettings& rec) {
        controlsWereDisabled = !Setup_COM->ComboBoxDeviceName->isEnabled() && !Setup_COM->BtOK->isEnabled()
                               && !Setup_COM->BtSetComPara->isEnabled();
        EXPECT_EQ(name, PtsName(a).toStdString());
        rec.BaudRate = 9600;
        return true;
    };
    Setup_COM->BtSetComParaClick();
    EXPECT_TRUE(controlsWereDisabled);
    EXPECT_TRUE(Setup_COM->BtOK->isEnabled());
    EXPECT_EQ(FoCom->ComPort1->BaudRate(), brCustom);
    EXPECT_EQ(FoCom->ComPort1->CustomBaudRate(), 9600);

    // A failing dialog still gives the controls back.
    FoCom->ComPort1->DeviceName("/dev/ulmaro-no-such-port");
    EXPECT_THROW(Setup_COM->BtSetComParaClick(), EComError);
    EXPECT_TRUE(Setup_COM->ComboBoxDeviceName->isEnabled());
    EXPECT_TRUE(Setup_COM->BtSetComPara->isEnabled());
    EXPECT_TRUE(Setup_COM->BtOK->isEnabled());
}

TEST_F(SetupComTest, TheSetupMenuShowsTheWindowAndOkHidesIt)
{
    Start();
    Setup_COM->show();
    Setup_COM->ComboBoxDeviceName->setVisible(true);
    EXPECT_TRUE(Setup_COM->isVisible());
    Setup_COM->BtOK->click();
    EXPECT_FALSE(Setup_COM->isVisible());
}

TEST_F(SetupComTest, InstrumentEntriesReopenThePortWithTheirReadTimeout)
{
    PtyPeer a;
    ports = {PtsName(a)};
    Start(0);
    TComPort* port = FoCom->ComPort1;
    MainForm->ReopenPortForInstrument(false, false);
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(port->Timeouts->ReadConstant(), 1000);
    a.WriteNow("stale");
    ASSERT_TRUE(WaitUntil([&] { return port->InputCount() == 5u; }));
    MainForm->ReopenPortForInstrument(false, false); // already open: stays as it is
    EXPECT_EQ(port->InputCount(), 5u);
    MainForm->ReopenPortForInstrument(true, true); // closed and opened afresh
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(port->InputCount(), 0u);
    EXPECT_EQ(port->Timeouts->ReadConstant(), 5000);
    EXPECT_EQ(port->Timeouts->ReadMultiplier(), 1000);
}

TEST_F(SetupComTest, SavingIntoANewFolderRemembersIt)
{
    Start();
    MainForm->CpmDataDirectory = "/data/";
    FoCom->UpdateCpmDataDirectory("/data/run1.csv");
    EXPECT_FALSE(IniExists());
    FoCom->UpdateCpmDataDirectory("/Data/run1.csv");
    EXPECT_EQ(MainForm->CpmDataDirectory, "/Data/");
    EXPECT_EQ(TIniFile(dir.file("SETUP.INI")).ReadString("CPM", "DataDirectory", "?"), "/Data/");
}

TEST_F(SetupComTest, TheLineSettingsDialogStartsFromTheDeviceAndItsChoiceHolds)
{
    PtyPeer a;
    ports = {PtsName(a)};
    Start(0);
    TDeviceLineSettings shown;
    bool found = false;
    // Plays the user: notes what the dialog shows, picks 4800 baud, even
    // parity, two stop bits, and confirms.
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<TComConfigDialog*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        found = true;
        dlg->StoreTo(shown);
        dlg->ComboBaudRate->setCurrentText("4800");
        dlg->ComboParity->setCurrentIndex(2);
        dlg->ComboStopBits->setCurrentIndex(2);
        dlg->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    Setup_COM->BtSetComPara->click();
    ASSERT_TRUE(found);
    EXPECT_EQ(shown.BaudRate, 2400u); // the form's rate written over the device's
    EXPECT_EQ(shown.ByteSize, 8);
    EXPECT_EQ(shown.DtrControl, 0);
    EXPECT_EQ(shown.RtsControl, 0);
    TComPort* port = FoCom->ComPort1;
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(port->CustomBaudRate(), 4800);
    EXPECT_EQ(port->Parity(), paEven);
    EXPECT_EQ(port->StopBits(), sb2);
    EXPECT_EQ(port->DataBits(), db8);
    EXPECT_EQ(port->FlowControl->DTR(), dcDisable);
    EXPECT_EQ(port->FlowControl->XOnXOff(), xcDisable);
    EXPECT_FALSE(port->Active());
}

TEST(ComConfigDialog, ShowsARecordAndGivesItBack)
{
    TComConfigDialog dlg("ttyS0");
    EXPECT_EQ(dlg.windowTitle(), "ttyS0 Properties");
    TDeviceLineSettings rec;
    rec.BaudRate = 10400;
    rec.ByteSize = 7;
    rec.Parity = 4;
    rec.StopBits = 1;
    rec.DtrControl = 2;
    rec.RtsControl = 3;
    rec.OutX = true;
    rec.InX = false;
    rec.XonLim = 17; // not shown: kept as it was
    dlg.LoadFrom(rec);
    TDeviceLineSettings back;
    back.XonLim = 17;
    ASSERT_TRUE(dlg.StoreTo(back));
    EXPECT_EQ(back, rec);
    dlg.ComboBaudRate->setCurrentText("");
    EXPECT_FALSE(dlg.StoreTo(back)); // no rate, no confirmation
}

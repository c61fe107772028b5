// A GUI driver (and anyone scripting the program from outside) finds the
// windows by the names of their globals and the controls by their member
// names. These tests build all windows as the program does and look for
// windows and controls that could not be found that way.
#include "acquisition/TChart.h"
#include "acquisition/TFormDisplay.h"
#include "app/AppWindows.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "ohmra/TFormOhmraFComment.h"
#include "platform/Paths.h"
#include "serial/TComConfigDialog.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

struct TWindowEntry {
    const char* Global;
    QWidget* Window;
};

std::vector<TWindowEntry> AllWindows()
{
    return {
        {"MainForm", MainForm},
        {"FormDisplay", FormDisplay},
        {"FormHelp", FormHelp},
        {"FoCom", FoCom},
        {"CPMSetup", CPMSetup},
        {"Setup_COM", Setup_COM},
        {"FormChartCPM", FormChartCPM},
        {"FormReadCPMFiles", FormReadCPMFiles},
        {"FormOhmra", FormOhmra},
        {"FormOhmraCali", FormOhmraCali},
        {"FormOhmraFComment", FormOhmraFComment},
        {"FormGripo", FormGripo},
    };
}

// The kinds of widget a user sees and works with.
bool IsControl(const QWidget* w)
{
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QLabel*>(w) ||
           qobject_cast<const QGroupBox*>(w) || qobject_cast<const QProgressBar*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QToolBar*>(w) ||
           qobject_cast<const TChart*>(w);
}

// Widgets that build their own unnamed insides (the edit of a combo box, the
// viewport and scroll bars of a memo, the plot inside the chart, the buttons a
// tool bar makes for its actions) or that are windows of their own.
bool IsComposite(const QWidget* w)
{
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QToolBar*>(w) ||
           qobject_cast<const TChart*>(w) || qobject_cast<const QMenuBar*>(w) || qobject_cast<const QMenu*>(w);
}

// True when `w` is part of a composite widget or of another window between
// it and `window`.
bool IsInternal(const QWidget* w, const QWidget* window)
{
    if (w->isWindow())
        return true;
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (IsComposite(p) || p->isWindow())
            return true;
    return false;
}

QString Describe(const QObject* o)
{
    QString text = QString::fromLatin1(o->metaObject()->className());
    if (const auto* b = qobject_cast<const QAbstractButton*>(o))
        text += " \"" + b->text() + "\"";
    else if (const auto* l = qobject_cast<const QLabel*>(o))
        text += " \"" + l->text().left(30) + "\"";
    else if (const auto* g = qobject_cast<const QGroupBox*>(o))
        text += " \"" + g->title() + "\"";
    QStringList path;
    for (const QObject* p = o->parent(); p; p = p->parent())
        path.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className()) : p->objectName());
    return path.join('/') + ": " + text;
}

// The controls of `window` a user can reach that carry no name.
QStringList UnnamedControls(QWidget* window)
{
    QStringList found;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (IsControl(w) && !IsInternal(w, window) && w->objectName().isEmpty())
            found << Describe(w);
    for (QTimer* t : window->findChildren<QTimer*>()) {
        const auto* owner = qobject_cast<QWidget*>(t->parent());
        if (owner && (owner == window || (!IsInternal(owner, window) && !IsComposite(owner))) &&
            t->objectName().isEmpty())
            found << Describe(t);
    }
    return found;
}

// Names that two of a window's controls share, so that looking one up may
// find the other.
QStringList SharedNames(QWidget* window)
{
    std::map<QString, int> count;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (IsControl(w) && !IsInternal(w, window) && !w->objectName().isEmpty())
            ++count[w->objectName()];
    QStringList shared;
    for (const auto& [name, n] : count)
        if (n > 1)
            shared << name;
    return shared;
}

// Every entry of a menu tree, sub-menus included (separators have no name).
void UnnamedActions(const QList<QAction*>& actions, const QString& where, QStringList& found)
{
    for (QAction* a : actions) {
        if (a->isSeparator())
            continue;
        if (a->objectName().isEmpty())
            found << where + ": \"" + a->text() + "\"";
        if (QMenu* m = a->menu())
            UnnamedActions(m->actions(), where + "/" + a->objectName(), found);
    }
}

class ControlNamesTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro", "pravelint"};
        CreateAllWindows(2, args, false);
    }
    void TearDown() override
    {
        if (MainForm)
            DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
};

} // namespace

TEST_F(ControlNamesTest, EveryWindowCarriesTheNameOfItsGlobal)
{
    for (const TWindowEntry& e : AllWindows()) {
        ASSERT_NE(e.Window, nullptr) << e.Global;
        EXPECT_EQ(e.Window->objectName(), QString::fromLatin1(e.Global));
    }
}

TEST_F(ControlNamesTest, EveryControlOfEveryWindowHasAName)
{
    for (const TWindowEntry& e : AllWindows()) {
        const QStringList unnamed = UnnamedControls(e.Window);
        EXPECT_TRUE(unnamed.isEmpty()) << e.Global << " has unnamed controls:\n  "
                                       << unnamed.join("\n  ").toStdString();
        const QStringList shared = SharedNames(e.Window);
        EXPECT_TRUE(shared.isEmpty()) << e.Global << ": names used twice: " << shared.join(", ").toStdString();
    }
}

TEST_F(ControlNamesTest, EveryMenuEntryAndChartCommandHasAName)
{
    QStringList unnamed;
    UnnamedActions(MainForm->MainMenue->actions(), "MainMenue", unnamed);
    UnnamedActions(MainForm->TeeCommander1->actions(), "TeeCommander1", unnamed);
    if (FormChartCPM->TeeCommander1)
        UnnamedActions(FormChartCPM->TeeCommander1->actions(), "FormChartCPM/TeeCommander1", unnamed);
    EXPECT_TRUE(unnamed.isEmpty()) << "unnamed entries:\n  " << unnamed.join("\n  ").toStdString();

    // The tool bar's buttons answer to the names of their commands.
    for (QAction* a : MainForm->TeeCommander1->actions()) {
        if (!a->isSeparator()) {
            EXPECT_EQ(MainForm->TeeCommander1->widgetForAction(a)->objectName(), a->objectName());
        }
    }

    // The menus themselves and their entries in the menu bar answer to the same name.
    for (QMenu* m : {MainForm->Device, MainForm->View, MainForm->Setup})
        EXPECT_EQ(m->menuAction()->objectName(), m->objectName());
}

// The names a driver uses most, looked up the way it does.
TEST_F(ControlNamesTest, TheControlsAreFoundByTheirNames)
{
    const std::map<QString, QStringList> samples = {
        {"MainForm",
         {"MainMenue", "Exit1", "Device", "View", "Grafik1", "Display", "Setup", "Com1", "Help", "Talvis1", "Karvo1",
          "Ohmra1", "Gripo1", "CPM_Start", "Ohmra_Start", "Ohmra_CalMenu", "Start_Gripo", "Opt11", "Opt121",
          "TeeCommander1", "ImageWallpaper", "image_Manufac_Logo", "GroupBox1", "LabelposMax", "Maxwert", "LabelMess",
          "Messwert", "LabelnegMax", "Minwert", "laSampleTime", "b_Start", "b_Stop_", "b_Reset", "b_Cancel", "Chart1",
          "Error_1"}},
        {"FormDisplay",
         {"GroupBoxSpannung", "LabelMesswert", "Memo_Status", "Error_1", "GroupBox1", "b_Start", "b_Stop", "b_Reset",
          "bCancel", "GroupBoxNegMaximum", "LabelNegMaximum_Value", "GroupBoxPosMaximum", "LabelPosMaximum_Value"}},
        {"FormHelp", {"Help_GroupBox1", "HelpMemo", "HelpOKButton", "GroupBox1", "MemoVersions"}},
        {"FoCom", {"SaveDialog1", "MemoTestOutput"}},
        {"Setup_COM", {"SetupCOM", "ComboBoxDeviceName", "BtSetComPara", "BtOK"}},
        {"CPMSetup",
         {"GBDisplay", "MemoDisplay", "GroupBoxsetup", "SelectMode", "GroupBoxParameters", "ComboBoxVStart",
          "ComboBoxVStop", "ComboBoxOffsetTime", "ButtonReadSetup", "BitBtnStart", "BitBtnChart", "BitBtnBreak",
          "BitBtnReadFile", "BitBtnInfo", "ButtonClearDisplay", "BitBtnCancel", "GroupBoxResult", "LabelPosDecayTime",
          "LabelNegDecayTime", "LabelOffset", "BitBtnSaveResult", "Label5", "Edit1", "BitBtnOK"}},
        {"FormChartCPM", {"TeeCommander1", "Chart1", "BitBtn_Exit"}},
        {"FormReadCPMFiles",
         {"GroupBoxRangeFileNumber", "LabelRangeFileNumber", "MaskEditStart", "MaskEditStopp", "GroupBoxInputComment",
          "LabelFileNumberActuell", "LabelFileNumberMax", "TextCommentFile", "BitBtnOK", "BitBtnAbort"}},
        {"FormOhmra",
         {"Ohmra_GroupBox_V", "Label_Ohmra_Me", "Label_Ohmra_Hu", "Label_Ohmra_Te", "BitBtn_start", "BitBtn_stop",
          "BitBtn_readFile", "BitBtn_save", "BitBtn_reset", "BitBtn_init", "BitBtn_exit", "GroupBox_Ohmra_Setup",
          "RadioGroup_Ohmra_VM", "RadioGroup_Ohmra_DM", "RadioGroup_Ohmra_TI", "RadioGroup_Ohmra_TiMo",
          "ComboBox_Ohmra_Time", "MemoInfo", "GroupBox_Input_Comment", "Edit_Comment", "BitBtnOK", "BitBtnCancel",
          "GroupBoxFiles", "MaskEdit_start_fn", "MaskEdit_end_fn", "BitBtn_OK_FileNo", "LabelReadFNo", "LabelFNo",
          "RadioGroup_Ohmra_VM_1"}},
        {"FormOhmraFComment",
         {"GroupBoxOhmraFileComments", "LabelFileNumber", "LabelResistor", "BitBtnStart", "BitBtnPrevious",
          "BitBtnNext", "BitBtnEnd", "EditComments", "Ohmra_RadioGroup", "BitBtnSave", "BitBtnExit", "SaveDialog1"}},
        {"FormOhmraCali",
         {"GroupBox_adjust_para", "MaskEdit_k0", "MaskEdit_k5", "MaskEdit_k_TF3", "BitBtn_read_para",
          "BitBtn_write_para", "BitBtn_print", "BitBtn_exit", "MemoInfo", "ProgressBarWait", "GroupBoxStatus",
          "CheckBox0", "CheckBox7", "GroupBoxCaliData", "MaskEditSerialNumber", "MaskEditSerialDate",
          "BitBtnCaliDateOK", "Timer1", "SaveDialogCali"}},
        {"FormGripo",
         {"Counter_all", "Counter_HGB_L", "Counter_HGB_L_P", "Counter_Shoe_H_P", "EditComment",
          "CheckBoxDeleteStatisticData", "BitBtn_Start", "BitBtn_Cancel", "BitBtnSaveData", "BitBtnPrintData", "SaveDialogGripo"}},
    };
    for (const TWindowEntry& e : AllWindows()) {
        const auto it = samples.find(QString::fromLatin1(e.Global));
        ASSERT_NE(it, samples.end()) << e.Global;
        QStringList missing;
        for (const QString& name : it->second)
            if (!e.Window->findChild<QObject*>(name))
                missing << name;
        EXPECT_TRUE(missing.isEmpty()) << e.Global << " lacks: " << missing.join(", ").toStdString();
    }
    // A few kinds, so that a name on the wrong object shows.
    EXPECT_EQ(MainForm->findChild<QAbstractButton*>("b_Start"), MainForm->b_Start);
    EXPECT_EQ(FormDisplay->findChild<QLabel*>("LabelMesswert"), FormDisplay->LabelMesswert);
    EXPECT_EQ(FormOhmra->findChild<QAbstractButton*>("BitBtn_readFile"), FormOhmra->BitBtn_readFile);
    EXPECT_EQ(MainForm->findChild<QAction*>("Grafik1"), MainForm->Grafik1);
}

// The port settings dialog is made each time the user asks for it.
TEST(ComConfigDialogNames, ItsControlsHaveNames)
{
    TComConfigDialog dialog("ttyS0");
    EXPECT_FALSE(dialog.objectName().isEmpty());
    const QStringList unnamed = UnnamedControls(&dialog);
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join("\n  ").toStdString();
}

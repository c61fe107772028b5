// The "Info" window as the help entry "?" opens it and "OK" closes it.
#include "app/AppWindows.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "platform/VersionInfo.h"
#include "tests/support/TestSupport.h"

#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QPixmap>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

const QString kHelp = "- First click on Device than select Type, Mode and Range.\n"
                      "- Start by click on View and Chart or Display.\n"
                      "- For Karvo or Ohmra operating mode set the used \n"
                      "  COM Port number over menue point Setup->Com Port at first !";

class HelpWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro"};
        CreateAllWindows(1, args, false);
    }
    void TearDown() override
    {
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
    static bool Enabled(QMenu* menu) { return menu->menuAction()->isEnabled(); }
};

} // namespace

TEST_F(HelpWindowTest, LooksAsDesigned)
{
    ASSERT_NE(FormHelp, nullptr);
    EXPECT_FALSE(FormHelp->isVisible());
    EXPECT_EQ(FormHelp->windowTitle(), "Info");
    const Qt::WindowFlags f = FormHelp->windowFlags();
    EXPECT_TRUE(f.testFlag(Qt::Tool));
    EXPECT_TRUE(f.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(FormHelp->font().family(), "Arial");
    EXPECT_EQ(FormHelp->font().pixelSize(), 16);

    EXPECT_EQ(FormHelp->Help_GroupBox1->title(), "Short help");
    EXPECT_EQ(FormHelp->Help_GroupBox1->geometry(), QRect(0, 0, 626, 265));
    EXPECT_EQ(FormHelp->HelpMemo->geometry(), QRect(3, 56, 618, 121));
    EXPECT_EQ(FormHelp->HelpMemo->font().pixelSize(), 19);
    EXPECT_TRUE(FormHelp->HelpMemo->font().bold());
    EXPECT_TRUE(FormHelp->HelpMemo->isReadOnly());
    EXPECT_FALSE(FormHelp->HelpMemo->isEnabled());
    EXPECT_EQ(FormHelp->HelpOKButton->text(), "OK");
    EXPECT_EQ(FormHelp->HelpOKButton->geometry(), QRect(192, 200, 217, 49));
    EXPECT_EQ(FormHelp->HelpOKButton->font().pixelSize(), 24);
    EXPECT_EQ(FormHelp->GroupBox1->title(), "Version info");
    EXPECT_EQ(FormHelp->GroupBox1->geometry(), QRect(3, 272, 620, 217));
    EXPECT_EQ(FormHelp->MemoVersions->geometry(), QRect(8, 24, 601, 177));
    EXPECT_EQ(FormHelp->MemoVersions->font().pixelSize(), 16);
}

TEST_F(HelpWindowTest, OpeningFillsBothTextsAndLocksTheMenus)
{
    MainForm->HelpClick();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_TRUE(FormHelp->isEnabled());
    EXPECT_EQ(FormHelp->HelpMemo->toPlainText(), kHelp);
    EXPECT_EQ(QString(TFormHelp::HelpText).count("\r\n"), 3);

    TFormHelp::TFileInfo info;
    const QString expected = QString::fromStdString(GetVersionInfo(info)).replace("\r\n", "\n");
    EXPECT_TRUE(expected.startsWith("Product name\tUlmaro read out\nCompany name   \t"));
    EXPECT_TRUE(expected.contains("File version\t1.0.0.1\nProduct version\t1.0.0.1\nFile size      \t"));
    // The settings files follow the version facts, each named once.
    const QString settings = "Settings read  \tnone found, defaults apply\nSettings saved \t" +
                             QString::fromStdString(dir.file("SETUP.INI")) + "\n";
    EXPECT_EQ(FormHelp->MemoVersions->toPlainText(), expected + settings);
    EXPECT_FALSE(FormHelp->MemoVersions->toPlainText().contains('\r'));

    EXPECT_FALSE(Enabled(MainForm->Device));
    EXPECT_FALSE(Enabled(MainForm->View));
    EXPECT_FALSE(Enabled(MainForm->Setup));
}

TEST_F(HelpWindowTest, OkGivesBackDeviceAndSetupAndViewOnlyAfterARangeChoice)
{
    MainForm->HelpClick();
    FormHelp->HelpOKButton->click();
    EXPECT_FALSE(FormHelp->isVisible());
    EXPECT_FALSE(FormHelp->isEnabled());
    EXPECT_TRUE(Enabled(MainForm->Device));
    EXPECT_TRUE(Enabled(MainForm->Setup));
    EXPECT_FALSE(Enabled(MainForm->View));

    MainForm->RangeSelected = true;
    MainForm->HelpClick();
    EXPECT_FALSE(Enabled(MainForm->View));
    FormHelp->HelpOKButtonClick();
    EXPECT_TRUE(Enabled(MainForm->View));
    EXPECT_TRUE(Enabled(MainForm->Device));
}

TEST_F(HelpWindowTest, OpeningTwiceRebuildsTheTextsAndKeepsTheMenusLocked)
{
    MainForm->HelpClick();
    FormHelp->HelpMemo->setPlainText("stale");
    FormHelp->MemoVersions->setPlainText("stale");
    MainForm->HelpClick();
    EXPECT_EQ(FormHelp->HelpMemo->toPlainText(), kHelp);
    EXPECT_TRUE(FormHelp->MemoVersions->toPlainText().startsWith("Product name\t"));
    EXPECT_FALSE(FormHelp->MemoVersions->toPlainText().contains("stale"));
    EXPECT_FALSE(Enabled(MainForm->Device));
    EXPECT_FALSE(Enabled(MainForm->Setup));
    FormHelp->HelpOKButtonClick();
    EXPECT_TRUE(Enabled(MainForm->Device));
}

TEST_F(HelpWindowTest, ClosingTheWindowOtherwiseCountsAsOk)
{
    MainForm->HelpClick();
    EXPECT_TRUE(FormHelp->close());
    EXPECT_FALSE(FormHelp->isVisible());
    EXPECT_TRUE(Enabled(MainForm->Device));
    EXPECT_TRUE(Enabled(MainForm->Setup));
}

TEST_F(HelpWindowTest, SettingsLinesNameTheFileThatIsRead)
{
    dir.write("SETUP_ULMARO.INI", "[SetUP_ADC]\r\nSampling_time_Chart=20\r\n");
    MainForm->HelpClick();
    const QString text = FormHelp->MemoVersions->toPlainText();
    EXPECT_EQ(text.count("SETUP_ULMARO.INI"), 1);
    EXPECT_EQ(text.count("SETUP.INI"), 1);
    EXPECT_TRUE(text.contains("Settings read  \t" + QString::fromStdString(dir.file("SETUP_ULMARO.INI")) + "\n"));
    FormHelp->HelpOKButtonClick();
}

// The help text stays out of reach of the keyboard and the mouse, yet reads
// as normal text, not greyed out.
TEST_F(HelpWindowTest, HelpTextIsDrawnInNormalColoursWhileUneditable)
{
    MainForm->HelpClick();
    QPlainTextEdit* memo = FormHelp->HelpMemo;
    EXPECT_FALSE(memo->isEnabled());
    EXPECT_TRUE(memo->isReadOnly());
    const QPalette pal = memo->palette();
    EXPECT_EQ(pal.color(QPalette::Disabled, QPalette::Text), pal.color(QPalette::Active, QPalette::Text));
    EXPECT_EQ(pal.color(QPalette::Disabled, QPalette::Base), pal.color(QPalette::Active, QPalette::Base));

    // What is drawn: the darkest pixel of the text is the normal text colour.
    const QImage img = memo->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            darkest = std::min(darkest, qGray(img.pixel(x, y)));
    EXPECT_LE(darkest, qGray(pal.color(QPalette::Active, QPalette::Text).rgb()) + 40);
    EXPECT_LT(darkest, qGray(QApplication::palette().color(QPalette::Disabled, QPalette::Text).rgb()));
    FormHelp->HelpOKButtonClick();
}

// Opened, the window shows both texts whole: no memo scrolls, in either
// direction, and the window is no smaller than its design. Escape is OK.
TEST_F(HelpWindowTest, OpenedItFitsItsTextsAndEscapeClosesIt)
{
    MainForm->HelpClick();
    ASSERT_TRUE(FormHelp->isVisible());
    QCoreApplication::processEvents();
    for (QPlainTextEdit* memo : {FormHelp->HelpMemo, FormHelp->MemoVersions}) {
        SCOPED_TRACE(memo->objectName().toStdString());
        EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0);
        // Every line's block lies inside the viewport.
        const QRectF last = memo->document()->documentLayout()->blockBoundingRect(memo->document()->lastBlock());
        EXPECT_LE(last.bottom(), memo->viewport()->height());
        EXPECT_TRUE(FormHelp->rect().contains(memo->geometry().translated(memo->parentWidget()->pos())));
    }
    EXPECT_GE(FormHelp->width(), 626);
    EXPECT_GE(FormHelp->height(), 489);
    EXPECT_TRUE(FormHelp->rect().contains(FormHelp->GroupBox1->geometry()));
    // The OK button stays below the help text.
    EXPECT_GE(FormHelp->HelpOKButton->y(), FormHelp->HelpMemo->geometry().bottom());

    // It has the keyboard, so Escape reaches it.
    EXPECT_TRUE(WaitUntil([] { return FormHelp->HelpOKButton->hasFocus(); }, 5000));
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QCoreApplication::sendEvent(FormHelp, &other);
    EXPECT_TRUE(FormHelp->isVisible());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(FormHelp->HelpOKButton, &esc);
    EXPECT_FALSE(FormHelp->isVisible());
    EXPECT_TRUE(Enabled(MainForm->Device));
    EXPECT_TRUE(Enabled(MainForm->Setup));
}

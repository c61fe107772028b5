#include "serial/TFoCom.h"

#include "core/MainState.h"
#include "platform/Paths.h"
#include "serial/DataDirectory.h"
#include "serial/TComConfigDialog.h"

#include <QFileInfo>
#include <QMessageBox>

TFoCom* FoCom = nullptr;

namespace {

// A save dialog that takes a file name only inside a folder that exists:
// both saves append to the file they are given and cannot create folders.
class TExistingFolderSaveDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo info(files.front());
            if (!info.isDir() && !QFileInfo(info.absolutePath()).isDir()) {
                QMessageBox::warning(this, windowTitle(),
                                     info.absolutePath()
                                         + QStringLiteral("\nPath does not exist.\nCheck the path and try again."));
                return;
            }
        }
        QFileDialog::accept();
    }
};

} // namespace

TFoCom::TFoCom(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    InstallComConfigDialog();

    // The line the instruments expect: 2400 baud, 8 data bits, parity and
    // stop bits as the device has them, no flow control, one second for
    // everything. The port starts closed.
    ComPort1 = new TComPort();
    ComPort1->DeviceName("/dev/ttyS1");
    ComPort1->BaudRate(br2400);
    ComPort1->DataBits(db8);
    ComPort1->FlowControl->DTR(dcDisable);
    ComPort1->FlowControl->RTS(rcDisable);
    ComPort1->FlowControl->XOnXOff(xcDisable);
    ComPort1->Timeouts->ReadInterval(1000);
    ComPort1->Timeouts->ReadMultiplier(1000);
    ComPort1->Timeouts->ReadConstant(1000);
    ComPort1->Timeouts->WriteMultiplier(1000);
    ComPort1->Timeouts->WriteConstant(1000);

    // Both charge plate monitor saves append to the file they are given, so
    // no question about overwriting; the folder must exist (see above).
    SaveDialog1.Bind(this, QStringLiteral("SaveDialog1"), [this] {
        auto* dialog = new TExistingFolderSaveDialog(this, QStringLiteral("Save Data"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QStringLiteral("csv"));
        dialog->setNameFilter(QStringLiteral("CSV (*.csv)"));
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->setOption(QFileDialog::ReadOnly, false);
        dialog->setSizeGripEnabled(true);
        dialog->setDirectory(QString::fromStdString(HomeDirectory()));
        return dialog;
    });

    MemoTestOutput = new QPlainTextEdit(this);
    MemoTestOutput->setPlainText(QStringLiteral("MemoTestOutput"));

    // Scripts and GUI drivers find the form and its parts by their names.
    setObjectName(QStringLiteral("FoCom"));
    MemoTestOutput->setObjectName(QStringLiteral("MemoTestOutput"));
}

TFoCom::~TFoCom()
{
    delete ComPort1;
    ComPort1 = nullptr;
}

void TFoCom::ClosePort()
{
    ComPort1->Close();
}

void TFoCom::UpdateCpmDataDirectory(const QString& fileName)
{
    if (MainState)
        ::UpdateCpmDataDirectory(*MainState, fileName);
}

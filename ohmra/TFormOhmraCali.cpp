#include "ohmra/TFormOhmraCali.h"

#include "core/MainLink.h"
#include "core/MainState.h"
#include "platform/CsvText.h"
#include "platform/Host.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/TFoCom.h"
#include "widgets/Placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QMainWindow>
#include <QPainter>
#include <QDateTime>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

TFormOhmraCali* FormOhmraCali = nullptr;

namespace {

const QString kDashes46(46, QLatin1Char('-'));
const QString kDashes48(48, QLatin1Char('-'));

QFont ArialFont(int points)
{
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(points);
    return f;
}

QPushButton* Button(const QString& text, const QString& hint, QWidget* parent, int x, int y, int w = 190)
{
    auto* b = new QPushButton(text, parent);
    b->setGeometry(x, y, w, 30);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

// A masked field's text the way the user sees it, unfilled places as blanks.
QString MaskText(const QLineEdit* e)
{
    QString t = e->displayText();
    t.replace(QLatin1Char('_'), QLatin1Char(' '));
    return t;
}

// The number in a field with its blanks removed. A field without a number
// ends the action before anything is sent, with the conversion message.
int FieldNumber(const QString& text)
{
    QString t = text;
    t.remove(QLatin1Char(' '));
    bool ok = false;
    const int v = t.toInt(&ok, 10);
    if (!ok)
        throw std::invalid_argument(("'" + t + "' is not a valid integer value").toStdString());
    return v;
}

// The date separator of the locale's short date format.
QChar DateSeparator()
{
    for (const QChar c : QLocale().dateFormat(QLocale::ShortFormat))
        if (c.isPunct() && c != QLatin1Char('\''))
            return c;
    return QLatin1Char('.');
}

QString FolderOf(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash + 1);
}

QString TwoDigits(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

int LineHeight(int points, const QPrinter& printer)
{
    const int px = std::abs(int(std::lround(double(points) * printer.logicalDpiY() / 72.0)));
    return int(px * 1.4);
}

// Text with the top of its line at y; a tab moves on to the next stop, the
// stops eight average characters apart from x.
void TextAt(QPainter& p, int x, int y, const QString& text)
{
    const QFontMetrics fm = p.fontMetrics();
    const int stop = std::max(1, 8 * fm.averageCharWidth());
    const QStringList parts = text.split(QLatin1Char('\t'));
    int cx = x;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            cx = x + ((cx - x) / stop + 1) * stop;
        if (!parts[i].isEmpty()) {
            p.drawText(cx, y + fm.ascent(), parts[i]);
            cx += fm.horizontalAdvance(parts[i]);
        }
    }
}

} // namespace

TFormOhmraCali::TFormOhmraCali(TCustomComPort* port, QWidget* parent) : QWidget(parent)
{
    // No system menu: the window is left through Exit only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setObjectName(QStringLiteral("FormOhmraCali"));
    setWindowTitle(QStringLiteral("Calibration Ohmra"));
    setFont(ArialFont(9));
    setFixedSize(800, 560);
    CentreOnScreen(this, 20);
    if (!port && FoCom)
        port = FoCom->ComPort1;
    if (!port)
        throw std::logic_error("TFormOhmraCali needs the serial port");
    ohmra_ = std::make_unique<C_Ohmra>(*port);

    // --- parameters ------------------------------------------------------------
    GroupBox_adjust_para = new QGroupBox(QStringLiteral("Adjust parameters "), this);
    GroupBox_adjust_para->setGeometry(8, 8, 200, 322);
    const QString labels[9] = {"K0 =", "K1 =", "K2 =", "K3 =", "K4 =", "K5 =", "k_TF0 =", "k_TF2 =", "k_TF3 ="};
    QLineEdit** fields[9] = {&MaskEdit_k0, &MaskEdit_k1, &MaskEdit_k2, &MaskEdit_k3, &MaskEdit_k4,
                             &MaskEdit_k5, &MaskEdit_k_TF0, &MaskEdit_k_TF2, &MaskEdit_k_TF3};
    for (int i = 0; i < 9; ++i) {
        auto* l = new QLabel(labels[i], GroupBox_adjust_para);
        l->setGeometry(16, 26 + i * 32, 70, 24);
        auto* e = new QLineEdit(GroupBox_adjust_para);
        e->setGeometry(92, 26 + i * 32, 90, 24);
        e->setInputMask(QStringLiteral("00000;_"));
        *fields[i] = e;
        paramFields_[size_t(i)] = e;
    }

    // --- actions ---------------------------------------------------------------
    const int bx = 218;
    BitBtn_read_para = Button("Read p&arameters", "Read parameters from Ohmra", this, bx, 14);
    BitBtn_read_default = Button("&Default parameters", "Read default parameters from INI file", this, bx, 50);
    BitBtn_write_para = Button("Write &parameters", "Write parameters to Ohmra", this, bx, 86);
    BitBtn_read_cali_data =
        Button("Read &info from Ohmra", "Read serial number, SW version, Date from Ohmra", this, bx, 134);
    BitBtn_write_cali_data = Button("&Write Cali date", "Write calibrations data to Ohmra", this, bx, 170);
    BitBtn_write_cali_data->setEnabled(false);
    BitBtn_read_meas_data = Button("Read &measured data", "Reading measured data from Ohmra", this, bx, 218);
    BitBtn_reset = Button("&Reset Ohmra", "Send reset command to Ohmra", this, bx, 254);
    BitBtn_save = Button("&Save calbration data", "Write calibration data to file", this, bx, 302);
    BitBtn_save->setEnabled(false);
    BitBtn_print = Button("&Print Info display", "Print out from info display", this, bx, 338);
    BitBtn_clear = Button("Clear display", QString(), this, bx, 374);
    BitBtn_exit = Button("Exit", QString(), this, bx, 512);
    actionButtons_ = {BitBtn_read_para,      BitBtn_read_default,   BitBtn_write_para, BitBtn_write_cali_data,
                      BitBtn_read_cali_data, BitBtn_read_meas_data, BitBtn_reset,      BitBtn_save,
                      BitBtn_print,          BitBtn_exit};

    // --- info display ----------------------------------------------------------
    GroupBox_info_display = new QGroupBox(QStringLiteral("Info display"), this);
    GroupBox_info_display->setGeometry(418, 8, 374, 470);
    MemoInfo = new QPlainTextEdit(GroupBox_info_display);
    MemoInfo->setGeometry(10, 22, 354, 438);
    MemoInfo->setReadOnly(true);
    MemoInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab stops eight average characters apart, as the memo's texts were
    // lined up for ("Range\t\t: " under "Temperature\t: ").
    MemoInfo->setTabStopDistance(8.0 * MemoInfo->fontMetrics().averageCharWidth());
    ProgressBarWait = new QProgressBar(this);
    ProgressBarWait->setGeometry(418, 486, 374, 18);
    ProgressBarWait->setRange(0, 100);
    ProgressBarWait->setTextVisible(false);
    ProgressBarWait->setVisible(false);

    // --- status bits -----------------------------------------------------------
    GroupBoxStatus = new QGroupBox(QStringLiteral("Status fOhmra"), this);
    GroupBoxStatus->setGeometry(8, 338, 200, 214);
    const QString bits[8] = {"AVRG", "Timer activ", "Timer finish", "FNS", "Show RX", "Timer ON", "Underflow",
                             "Overflow"};
    QCheckBox** boxes[8] = {&CheckBox0, &CheckBox1, &CheckBox2, &CheckBox3,
                            &CheckBox4, &CheckBox5, &CheckBox6, &CheckBox7};
    for (int i = 0; i < 8; ++i) {
        auto* c = new QCheckBox(bits[i], GroupBoxStatus);
        c->setGeometry(16, 22 + i * 23, 170, 22);
        c->setEnabled(false);
        *boxes[i] = c;
    }
    GroupBoxStatus->setEnabled(false);

    // --- serial number and date entry ------------------------------------------
    GroupBoxCaliData = new QGroupBox(QStringLiteral("Calibrations date"), this);
    GroupBoxCaliData->setGeometry(218, 410, 190, 96);
    Label1 = new QLabel(QStringLiteral("Number"), GroupBoxCaliData);
    Label1->setGeometry(10, 22, 60, 22);
    MaskEditSerialNumber = new QLineEdit(GroupBoxCaliData);
    MaskEditSerialNumber->setGeometry(10, 44, 70, 24);
    MaskEditSerialNumber->setInputMask(QStringLiteral("0000;_"));
    MaskEditSerialNumber->setText(QStringLiteral("0"));
    Label2 = new QLabel(QStringLiteral("Date"), GroupBoxCaliData);
    Label2->setGeometry(90, 22, 60, 22);
    MaskEditSerialDate = new QLineEdit(GroupBoxCaliData);
    MaskEditSerialDate->setGeometry(90, 44, 90, 24);
    MaskEditSerialDate->setInputMask(QStringLiteral("09") + DateSeparator() + QStringLiteral("99;_"));
    MaskEditSerialDate->setText(QStringLiteral("09") + DateSeparator() + QStringLiteral("11"));
    BitBtnCaliDateOK = new QPushButton(QStringLiteral("O K"), GroupBoxCaliData);
    BitBtnCaliDateOK->setGeometry(10, 70, 80, 22);
    BitBtnCaliDateCancel = new QPushButton(QStringLiteral("Cancel"), GroupBoxCaliData);
    BitBtnCaliDateCancel->setGeometry(100, 70, 80, 22);
    GroupBoxCaliData->setEnabled(false);
    GroupBoxCaliData->setVisible(false);

    SaveDialogCali.Bind(this, QStringLiteral("SaveDialogCali"), [this] {
        auto* dialog = new QFileDialog(this, QStringLiteral("Write calibration data to file"));
        dialog->setOption(QFileDialog::DontUseNativeDialog, true);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // The calibration file is always appended to, never replaced.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->setNameFilter(QStringLiteral("*.CSV"));
        dialog->setDefaultSuffix(QStringLiteral("CSV"));
        return dialog;
    });

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    connect(BitBtn_read_para, &QPushButton::clicked, this, [this] { BitBtn_read_paraClick(); });
    connect(BitBtn_read_default, &QPushButton::clicked, this, [this] { BitBtn_read_defaultClick(); });
    connect(BitBtn_write_para, &QPushButton::clicked, this, [this] { BitBtn_write_paraClick(); });
    connect(BitBtn_read_cali_data, &QPushButton::clicked, this, [this] { BitBtn_read_cali_dataClick(); });
    connect(BitBtn_write_cali_data, &QPushButton::clicked, this, [this] { BitBtn_write_cali_dataClick(); });
    connect(BitBtnCaliDateOK, &QPushButton::clicked, this, [this] { BitBtnCaliDateOKClick(); });
    connect(BitBtnCaliDateCancel, &QPushButton::clicked, this, [this] { BitBtnCaliDateCancelClick(); });
    connect(BitBtn_read_meas_data, &QPushButton::clicked, this, [this] { BitBtn_read_meas_dataClick(); });
    connect(BitBtn_reset, &QPushButton::clicked, this, [this] { BitBtn_resetClick(); });
    connect(BitBtn_clear, &QPushButton::clicked, this, [this] { BitBtn_clearClick(); });
    connect(BitBtn_save, &QPushButton::clicked, this, [this] { BitBtn_saveClick(); });
    connect(BitBtn_print, &QPushButton::clicked, this, [this] { BitBtn_printClick(); });
    connect(BitBtn_exit, &QPushButton::clicked, this, [this] { BitBtn_exitClick(); });

    // Window creation.
    Para = Ohmra_Para_Struct{};
    LoadDefaults();
    BitBtn_read_cali_data->setEnabled(false);
    GroupBoxStatus->setEnabled(false);
    Timer1->stop();

    // Scripts and GUI drivers find the controls by their member names; the
    // parameter captions ("K0 =") answer to "Label" and their field's suffix
    // ("Label_k0").
#define CALI_NAME(member) member->setObjectName(QStringLiteral(#member))
    CALI_NAME(GroupBox_adjust_para);
    CALI_NAME(MaskEdit_k0);
    CALI_NAME(MaskEdit_k1);
    CALI_NAME(MaskEdit_k2);
    CALI_NAME(MaskEdit_k3);
    CALI_NAME(MaskEdit_k4);
    CALI_NAME(MaskEdit_k5);
    CALI_NAME(MaskEdit_k_TF0);
    CALI_NAME(MaskEdit_k_TF2);
    CALI_NAME(MaskEdit_k_TF3);
    CALI_NAME(BitBtn_read_para);
    CALI_NAME(BitBtn_read_default);
    CALI_NAME(BitBtn_write_para);
    CALI_NAME(BitBtn_read_cali_data);
    CALI_NAME(BitBtn_write_cali_data);
    CALI_NAME(BitBtn_read_meas_data);
    CALI_NAME(BitBtn_reset);
    CALI_NAME(BitBtn_save);
    CALI_NAME(BitBtn_print);
    CALI_NAME(BitBtn_clear);
    CALI_NAME(BitBtn_exit);
    CALI_NAME(GroupBox_info_display);
    CALI_NAME(MemoInfo);
    CALI_NAME(ProgressBarWait);
    CALI_NAME(GroupBoxStatus);
    CALI_NAME(CheckBox0);
    CALI_NAME(CheckBox1);
    CALI_NAME(CheckBox2);
    CALI_NAME(CheckBox3);
    CALI_NAME(CheckBox4);
    CALI_NAME(CheckBox5);
    CALI_NAME(CheckBox6);
    CALI_NAME(CheckBox7);
    CALI_NAME(GroupBoxCaliData);
    CALI_NAME(Label1);
    CALI_NAME(MaskEditSerialNumber);
    CALI_NAME(Label2);
    CALI_NAME(MaskEditSerialDate);
    CALI_NAME(BitBtnCaliDateOK);
    CALI_NAME(BitBtnCaliDateCancel);
    CALI_NAME(Timer1);
#undef CALI_NAME
    {
        const QList<QLabel*> captions = GroupBox_adjust_para->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = 0; i < captions.size() && i < qsizetype(paramFields_.size()); ++i)
            captions[i]->setObjectName(QStringLiteral("Label") + paramFields_[size_t(i)]->objectName().mid(8));
    }
    RunSaveDialog = [](QFileDialog& dlg) {
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().front();
    };
    ApplyState();
}

void TFormOhmraCali::ApplyState()
{
    using C = TOhmraCaliControl;
    const std::pair<QPushButton*, C> buttons[] = {
        {BitBtn_read_para, C::ReadPara},   {BitBtn_read_default, C::ReadDefault},
        {BitBtn_write_para, C::WritePara}, {BitBtn_read_cali_data, C::ReadInfo},
        {BitBtn_write_cali_data, C::WriteDate}, {BitBtn_read_meas_data, C::ReadMeas},
        {BitBtn_reset, C::Reset},          {BitBtn_save, C::Save},
        {BitBtn_print, C::Print},          {BitBtn_clear, C::Clear},
        {BitBtn_exit, C::Exit},
    };
    for (const auto& [b, c] : buttons)
        b->setEnabled(Allowed(c));
    GroupBoxCaliData->setEnabled(Allowed(C::DateEntry));
    GroupBoxCaliData->setVisible(Allowed(C::DateEntry));
}

void TFormOhmraCali::SetActivity(TOhmraCaliActivity activity)
{
    state_.activity = activity;
    ApplyState();
}

void TFormOhmraCali::SetProgress(TOhmraCaliProgress progress)
{
    state_.progress = progress;
    ApplyState();
}

void TFormOhmraCali::Run(TOhmraCaliActivity activity, const std::function<void()>& action)
{
    // Print may be pressed while Write Cali date waits for its entry: the
    // entry is still open underneath and carries on once the print is done.
    const TOhmraCaliActivity outer = state_.activity;
    SetActivity(activity);
    try {
        action();
    } catch (...) {
        // A time-out or a field without a number ends the action; the
        // window stays usable.
        if (outer == TOhmraCaliActivity::Idle) {
            DateEntryOpen = false;
            waiting_ = false;
            ProgressBarWait->setVisible(false);
            ProgressBarWait->setValue(0);
            Timer1->stop();
        }
        SetActivity(outer);
        throw;
    }
    SetActivity(outer);
}

TFormOhmraCali::~TFormOhmraCali()
{
    delete PrintDialogCali;
    delete printer_;
    if (FormOhmraCali == this)
        FormOhmraCali = nullptr;
}

void TFormOhmraCali::AddLine(const QString& text) { MemoInfo->appendPlainText(text); }

void TFormOhmraCali::LoadDefaults()
{
    TIniFile ini(SetupIniPath());
    static const char* const keys[9] = {"k0", "k1", "k2", "k3", "k4", "k5", "k_TF0", "k_TF2", "k_TF3"};
    for (size_t i = 0; i < 9; ++i)
        paramFields_[i]->setText(QString::number(ini.ReadInteger("Ohmra", keys[i], 200)));
}

void TFormOhmraCali::BitBtn_read_paraClick()
{
    if (!Allowed(TOhmraCaliControl::ReadPara))
        return;
    Run(TOhmraCaliActivity::Exchange, [this] {
    AddLine(QStringLiteral("Read Parameters from Ohmra"));
    Ohmra_Para_Struct p;
    const int r = ohmra_->ReadParameters(p);
    if (r != 0) {
        AddLine(QStringLiteral("Error occurred ! Error number : ") + QString::number(r));
        return;
    }
    const int32_t v[9] = {p.k0, p.k1, p.k2, p.k3, p.k4, p.k5, p.k_TF0, p.k_TF2, p.k_TF3};
    for (size_t i = 0; i < 9; ++i)
        paramFields_[i]->setText(QString::number(v[i]));
    AddLine(QStringLiteral("OK !"));
    });
}

void TFormOhmraCali::BitBtn_read_defaultClick()
{
    if (!Allowed(TOhmraCaliControl::ReadDefault))
        return;
    AddLine(QStringLiteral("Reading Parameters from setup.ini"));
    LoadDefaults();
    if (BitBtn_write_para->isEnabled())
        BitBtn_write_para->setFocus();
}

void TFormOhmraCali::BitBtn_write_paraClick()
{
    if (!Allowed(TOhmraCaliControl::WritePara))
        return;
    Run(TOhmraCaliActivity::Exchange, [this] {
    if (Prompt().Ask(QStringLiteral("Are you sure ?"), QStringLiteral("Query"), TPromptButtons::OkCancel,
                     TPromptIcon::Exclamation) != TPromptResult::Ok) {
        AddLine(QStringLiteral("Write Parameters canceled!"));
        return;
    }
    AddLine(QStringLiteral("Write Parameters to Ohmra"));
    int v[9];
    for (size_t i = 0; i < 9; ++i)
        v[i] = FieldNumber(paramFields_[i]->text());
    // The calibration file records what reached the meter: the values
    // are kept only once the meter has taken them.
    Ohmra_Para_Struct written = Para;
    written.k0 = v[0];
    written.k1 = v[1];
    written.k2 = v[2];
    written.k3 = v[3];
    written.k4 = v[4];
    written.k5 = v[5];
    written.k_TF0 = v[6];
    written.k_TF2 = v[7];
    written.k_TF3 = v[8];
    if (ohmra_->WriteParameters(written) != 0)
        return;
    Para.k0 = written.k0;
    Para.k1 = written.k1;
    Para.k2 = written.k2;
    Para.k3 = written.k3;
    Para.k4 = written.k4;
    Para.k5 = written.k5;
    Para.k_TF0 = written.k_TF0;
    Para.k_TF2 = written.k_TF2;
    Para.k_TF3 = written.k_TF3;
    AddLine(QStringLiteral("Wait 5 Sec."));
    WaitWithProgress(5000);
    AddLine(QStringLiteral("succesfully !"));
    if (state_.progress == TOhmraCaliProgress::Fresh)
        SetProgress(TOhmraCaliProgress::ParametersWritten);
    });
}

void TFormOhmraCali::BitBtn_read_cali_dataClick()
{
    if (!Allowed(TOhmraCaliControl::ReadInfo))
        return;
    Run(TOhmraCaliActivity::Exchange, [this] {
    AddLine(QStringLiteral("Read info from Ohmra"));
    QString date, version, serial;
    const int r = ohmra_->ReadInfo(date, version, serial);
    if (r != 0) {
        AddLine(QStringLiteral("Error occurred ! Error number : ") + QString::number(r));
        return;
    }
    AddLine(kDashes46);
    AddLine(QStringLiteral("Calibration  date\t: ") + date);
    AddLine(QStringLiteral("Software version\t: ") + version);
    AddLine(QStringLiteral("Serial number\t: ") + serial);
    AddLine(QStringLiteral("OK !"));
    AddLine(kDashes46);
    if (state_.progress != TOhmraCaliProgress::DateWritten)
        SetProgress(TOhmraCaliProgress::InfoRead);
    Para.SwVersion = version;
    });
}


void TFormOhmraCali::BitBtn_write_cali_dataClick()
{
    if (!Allowed(TOhmraCaliControl::WriteDate))
        return;
    Run(TOhmraCaliActivity::DateEntry, [this] {
        MaskEditSerialNumber->setFocus();
        const QDate today = Today();
        const int d = today.day(), mo = today.month(), y = today.year() % 100;
        const QChar sep = DateSeparator();
        MaskEditSerialNumber->setText(QStringLiteral("0"));
        MaskEditSerialDate->setInputMask(QStringLiteral("09") + sep + QStringLiteral("99;_"));
        MaskEditSerialDate->setText(TwoDigits(mo) + sep + TwoDigits(y));
        int sm = 0, sy = 0;
        for (;;) {
            DateEntryOpen = true;
            DateEntryCancel = false;
            while (DateEntryOpen && !DateEntryCancel) {
                Host().Sleep(2);
                Host().ProcessMessages();
            }
            if (DateEntryCancel) {
                DateEntryOpen = false;
                SetActivity(TOhmraCaliActivity::Idle);
                AddLine(QStringLiteral("cancelled"));
                return;
            }
            const QString text = MaskText(MaskEditSerialDate);
            sm = FieldNumber(text.mid(0, 2));
            sy = FieldNumber(text.mid(3, 2));
            if (sm < 1 || sm > 12) {
                Prompt().Message(QStringLiteral("Incorrect date entry "), QStringLiteral("Input errors"));
                MaskEditSerialDate->setFocus();
                continue;
            }
            break;
        }
        // From here on the line is in use: the entry is closed.
        SetActivity(TOhmraCaliActivity::Exchange);
        Para.CalDate = TwoDigits(d) + QStringLiteral(".") + TwoDigits(mo) + QStringLiteral(".20") + TwoDigits(y);
        AddLine(QStringLiteral("Write to Ohmra ..."));
        // A number field without a number ends the write here, after the line.
        const QString serialText = MaskText(MaskEditSerialNumber).remove(QLatin1Char(' '));
        const int serialNumber = FieldNumber(serialText);
        const int r = ohmra_->WriteCalibrationDate(serialNumber, sm, sy, d, mo, y);
        if (r != 0) {
            AddLine(QStringLiteral("Error occurred ! Error number : ") + QString::number(r));
        } else {
            SetProgress(TOhmraCaliProgress::DateWritten);
            AddLine(QStringLiteral("successfully"));
            Para.SerialText = serialText + MaskText(MaskEditSerialDate).left(5);
        }
    });
}

void TFormOhmraCali::BitBtnCaliDateOKClick()
{
    if (Allowed(TOhmraCaliControl::DateEntry))
        DateEntryOpen = false;
}

void TFormOhmraCali::BitBtnCaliDateCancelClick()
{
    if (Allowed(TOhmraCaliControl::DateEntry))
        DateEntryCancel = true;
}

void TFormOhmraCali::BitBtn_read_meas_dataClick()
{
    if (!Allowed(TOhmraCaliControl::ReadMeas))
        return;
    Run(TOhmraCaliActivity::Exchange, [this] {
    C_Ohmra& o = *ohmra_;
    o.Measure("C004");
    Host().Sleep(200);
    if (o.Measure("C004") != 0)
        return;
    QString u;
    const QString x = C_Ohmra::FormatResistance(o.Mantissa, o.Exponent, u);
    QLocale loc;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    const double v = loc.toDouble(x);
    AddLine(kDashes48);
    AddLine(QStringLiteral("Range\t\t: ") + QString::number(o.Range));
    AddLine(QStringLiteral("Exponent\t\t: ") + QString::number(o.Exponent));
    if (o.Status & 0x80) {
        AddLine((o.Status & 0x40) ? QStringLiteral("OVERFLOW") : QStringLiteral("UNDERFLOW"));
    } else {
        AddLine(QStringLiteral("Resistor\t\t: ") + loc.toString(v, 'f', 1) + u);
        AddLine(QStringLiteral("Temperature\t: ") + QString::number(o.Temperature) + QStringLiteral("°C"));
        AddLine(QStringLiteral("Humidity\t\t: ") + QString::number(o.Humidity) + QStringLiteral("%r.F"));
        AddLine(QStringLiteral("Timer\t\t: ") + QString::number(o.Timer));
        AddLine(kDashes48);
    }
    const std::string bits = C_Ohmra::StatusBitText(o.Status);
    QCheckBox* const low[6] = {CheckBox0, CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5};
    for (size_t i = 0; i < 6; ++i)
        low[i]->setChecked(bits.size() > i && bits[i] == '1');
    const bool out = bits.size() > 7 && bits[7] == '1';
    const bool high = bits.size() > 6 && bits[6] == '1';
    CheckBox6->setChecked(out && !high);
    CheckBox7->setChecked(out && high);
    GroupBoxStatus->setEnabled(true);
    });
}

void TFormOhmraCali::BitBtn_resetClick()
{
    if (!Allowed(TOhmraCaliControl::Reset))
        return;
    Run(TOhmraCaliActivity::Exchange, [this] {
        ohmra_->Reset();
        AddLine(QStringLiteral("Wait 5 Sec."));
        WaitWithProgress(5000);
        AddLine(QStringLiteral("OK"));
    });
}

void TFormOhmraCali::BitBtn_clearClick()
{
    if (Allowed(TOhmraCaliControl::Clear))
        MemoInfo->clear();
}

void TFormOhmraCali::Timer1Timer() { WaitElapsed += 100; }

void TFormOhmraCali::WaitWithProgress(int32_t ms)
{
    for (size_t i = 0; i < actionButtons_.size(); ++i)
        SavedButtonStates[i] = actionButtons_[i]->isEnabled();
    const TOhmraCaliActivity before = state_.activity;
    SetActivity(TOhmraCaliActivity::Waiting);
    waiting_ = true;
    Host().ProcessMessages();

    ProgressBarWait->setVisible(true);
    ProgressBarWait->setRange(0, ms / 100);
    Timer1->setInterval(100);
    WaitElapsed = 0;
    Timer1->start();
    int32_t seen = 0;
    while (WaitElapsed <= ms) {
        Host().ProcessMessages();
        if (WaitElapsed > seen) {
            ProgressBarWait->setValue(seen / 100);
            seen = WaitElapsed;
        }
        Host().Sleep(2);
    }
    ProgressBarWait->setVisible(false);
    ProgressBarWait->setValue(0);
    Timer1->stop();
    waiting_ = false;
    SetActivity(before);
    Host().ProcessMessages();
}

QString TFormOhmraCali::CalibrationCsvHeader()
{
    return QStringLiteral("Serial number;Date;SW version;Factor k0;Factor k1;Factor k2;Factor k3;Factor k4;"
                          "Factor k5;Factor k_TF0;Factor k_TF2;Factor k_TF3;");
}

QString TFormOhmraCali::CalibrationCsvLine(const Ohmra_Para_Struct& p)
{
    QString s = QStringLiteral("'") + p.SerialText + QStringLiteral(";'") + p.CalDate + QStringLiteral(";'") +
                p.SwVersion;
    for (int32_t k : {p.k0, p.k1, p.k2, p.k3, p.k4, p.k5, p.k_TF0, p.k_TF2, p.k_TF3})
        s += QStringLiteral(";") + QString::number(k);
    return s;
}

void TFormOhmraCali::BitBtn_saveClick()
{
    if (!Allowed(TOhmraCaliControl::Save))
        return;
    Run(TOhmraCaliActivity::Saving, [this] {
        if (SaveCalibrationCsv() == 0)
            SetProgress(TOhmraCaliProgress::InfoRead);
    });
}

int32_t TFormOhmraCali::SaveCalibrationCsv()
{
    TIniFile ini(SetupIniPath());
    const QString f = QString::fromStdString(ini.ReadString("Ohmra", "DataDirectory", HomeDirectory()));
    SaveDialogCali->setDirectory(f);
    SaveDialogCali->setDefaultSuffix(QStringLiteral("CSV"));
    SaveDialogCali->selectFile(QStringLiteral("OhmracaliData"));
    const QString p = RunSaveDialog ? RunSaveDialog(*SaveDialogCali) : QString();
    if (p.isEmpty())
        return 0;
    const QString g = FolderOf(p);
    if (g != f) {
        if (MainState)
            MainState->CpmDataDirectory = g;
        ini.WriteString("Ohmra", "DataDirectory", g.toStdString());
    }
    return WriteCalibrationFile(p);
}

int32_t TFormOhmraCali::WriteCalibrationFile(const QString& p)
{
    const int result = ReportCsvAppend(AppendCsv(p, {CalibrationCsvHeader() + QStringLiteral("\r\n")},
                                                 {CalibrationCsvLine(Para) + QStringLiteral("\r\n")}),
                                       p);
    if (result != 0)
        return result;
    AddLine(QStringLiteral("Calibration data stored successfully to : "));
    AddLine(p);
    return 0;
}

void TFormOhmraCali::BitBtn_printClick()
{
    if (!Allowed(TOhmraCaliControl::Print))
        return;
    Run(TOhmraCaliActivity::Printing, [this] { PrintWithDialog(); });
}

void TFormOhmraCali::PrintWithDialog()
{
    if (!PrintDialogCali) {
        printer_ = new QPrinter(QPrinter::HighResolution);
        PrintDialogCali = new QPrintDialog(printer_, this);
        PrintDialogCali->setObjectName(QStringLiteral("PrintDialogCali"));
    }
    // "Print to file" offers the window and the moment, not "print.pdf".
    printer_->setOutputFileName(QString());
    printer_->setDocName(QStringLiteral("Ohmra_Calibration_") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    if (PrintDialogCali->exec() != QDialog::Accepted)
        return;
    PrintInfo();
}

void TFormOhmraCali::PrintInfo()
{
    if (!printer_)
        return;
    printer_->setResolution(PrintResolution);
    const QString text = MemoInfo->toPlainText();
    const QStringList lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    if (!PrintInfoTo(*printer_, lines, Today()))
        Prompt().Message(QStringLiteral("The printer could not be started."), QStringLiteral("Error"),
                         TPromptIcon::Error);
}

QString TFormOhmraCali::PrintHeaderLine()
{
    return QStringLiteral("Ulmaro Messtechnik - Electrostatics laboratory - Am Messplatz 1 - 79000 Ulmaro");
}

bool TFormOhmraCali::PrintInfoTo(QPrinter& printer, const QStringList& lines, const QDate& today)
{
    int h = LineHeight(14, printer);
    int n = printer.height() / h - 4;
    printer.setDocName(QStringLiteral("Print out Info display."));
    QPainter p;
    if (!p.begin(&printer))
        return false;
    p.setFont(ArialFont(14));
    TextAt(p, 400, 2 * h, PrintHeaderLine());
    TextAt(p, 400, 3 * h,
           QStringLiteral("Print out Info display : ") + QLocale().toString(today, QLocale::ShortFormat));
    p.setFont(ArialFont(10));
    h = LineHeight(10, printer);
    n = printer.height() / h - 4;
    int r = 6;
    for (const QString& line : lines) {
        // A full page goes on at row 4 of the next, and only when a line
        // is left for it: no empty page at the end.
        if (r >= n) {
            printer.newPage();
            r = 4;
        }
        TextAt(p, 200, r * h, line);
        ++r;
    }
    return p.end();
}

void TFormOhmraCali::BitBtn_exitClick()
{
    if (!Allowed(TOhmraCaliControl::Exit))
        return;
    MemoInfo->clear();
    hide();
    // The next opening starts the chain afresh.
    state_ = TOhmraCaliState{};
    ApplyState();
    if (MainState)
        MainState->StopFlag = true;
    CallHook(MainLink().ReturnToMain);
    // The View and Device menus are offered again, as after the display window.
    CallHook(MainLink().DisplayClosed);
    CallHook(MainLink().CloseDisplay);
    ohmra_->Port().Close();
    CallHook(MainLink().RaiseMain);
}

void TFormOhmraCali::closeEvent(QCloseEvent* event)
{
    // Only Exit leaves the window; a close from outside (the window manager)
    // does the same, except in the middle of a wait or an entry.
    if (!Allowed(TOhmraCaliControl::Exit)) {
        event->ignore();
        return;
    }
    if (isVisible())
        BitBtn_exitClick();
    event->accept();
}

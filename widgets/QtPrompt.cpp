#include "widgets/QtPrompt.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon ToIcon(TPromptIcon icon)
{
    switch (icon) {
    case TPromptIcon::Information: return QMessageBox::Information;
    case TPromptIcon::Warning:
    case TPromptIcon::Exclamation: return QMessageBox::Warning;
    case TPromptIcon::Error: return QMessageBox::Critical;
    case TPromptIcon::Question: return QMessageBox::Question;
    case TPromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QString CaptionOrTitle(const QString& caption)
{
    return caption.isEmpty() ? QApplication::applicationName() : caption;
}

} // namespace

TPromptResult TQtPrompt::Ask(const QString& text, const QString& caption, TPromptButtons buttons, TPromptIcon icon)
{
    QMessageBox box(ToIcon(icon), CaptionOrTitle(caption), text, QMessageBox::NoButton, QApplication::activeWindow());
    switch (buttons) {
    case TPromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case TPromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case TPromptButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    box.setEscapeButton(buttons == TPromptButtons::Ok ? QMessageBox::Ok : QMessageBox::Cancel);
    const int r = box.exec();
    if (r == QMessageBox::Ok)
        return TPromptResult::Ok;
    if (r == QMessageBox::Retry)
        return TPromptResult::Retry;
    return buttons == TPromptButtons::Ok ? TPromptResult::Ok : TPromptResult::Cancel;
}

bool TQtPrompt::InputText(const QString& caption, const QString& label, QString& value)
{
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), CaptionOrTitle(caption), label,
                                               QLineEdit::Normal, value, &ok);
    if (ok)
        value = text;
    return ok;
}

#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TCPMSetup : public QWidget {
    Q_OBJECT
public:
    explicit TCPMSetup(QWidget* parent = nullptr);
    QPlainTextEdit* MemoDisplay = new QPlainTextEdit(this);
};

extern TCPMSetup* CPMSetup;

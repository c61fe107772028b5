#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormReadCPMFiles : public QWidget {
    Q_OBJECT
public:
    explicit TFormReadCPMFiles(QWidget* parent = nullptr);

};

extern TFormReadCPMFiles* FormReadCPMFiles;

#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormOhmraFComment : public QWidget {
    Q_OBJECT
public:
    explicit TFormOhmraFComment(QWidget* parent = nullptr);

};

extern TFormOhmraFComment* FormOhmraFComment;

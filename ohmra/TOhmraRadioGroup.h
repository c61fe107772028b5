#pragma once
#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>
#include <functional>

// A framed column of radio buttons with an item index, as the tera-ohmmeter
// windows lay out their settings. `OnClick` runs when the user picks an item.
class TOhmraRadioGroup : public QGroupBox {
public:
    TOhmraRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
        : QGroupBox(caption, parent), group_(new QButtonGroup(this))
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 6, 6, 6);
        layout->setSpacing(2);
        for (int i = 0; i < items.size(); ++i) {
            auto* b = new QRadioButton(items[i], this);
            layout->addWidget(b);
            group_->addButton(b, i);
        }
        connect(group_, &QButtonGroup::idClicked, this, [this](int) {
            if (OnClick)
                OnClick();
        });
        // The items answer to the group's name and their index
        // ("RadioGroup_Ohmra_VM_1"), so scripts find them once the window
        // has named the group.
        connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
            for (QAbstractButton* b : group_->buttons())
                b->setObjectName(name + QLatin1Char('_') + QString::number(group_->id(b)));
        });
    }
    int ItemIndex() const { return group_->checkedId(); }
    void SetItemIndex(int i)
    {
        if (QAbstractButton* b = group_->button(i))
            b->setChecked(true);
    }
    QRadioButton* Item(int i) const { return static_cast<QRadioButton*>(group_->button(i)); }
    std::function<void()> OnClick;

private:
    QButtonGroup* group_;
};

#include "card_form.h"

#include "app/data_module.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/lookup_combo.h"

#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrel {

namespace {

constexpr int kRowPitch = 26;    // vertical distance of two rows in a group box
constexpr int kRowTop = 20;      // first row below the group box's title
constexpr int kGroupLeft = 3;    // label column's left edge: the four columns fill 803 of 809 pixels
constexpr int kControlHeight = 21;

int rowsOf(int group)
{
    int rows = 0;
    for (const CardField& f : cardFields())
        if (f.group == group)
            rows = std::max(rows, f.row + 1);
    return rows;
}

} // namespace

CardForm::CardForm(TfrmDM& dm, QWidget* parent) : QWidget(parent), m_dm(dm)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    std::array<QGroupBox*, kCardGroups.size()> boxes{};
    for (size_t g = 0; g < kCardGroups.size(); ++g) {
        auto* box = new QGroupBox(QString::fromUtf8(kCardGroups[g]), this);
        box->setFixedSize(kCardGroupWidth, kRowTop + rowsOf(static_cast<int>(g)) * kRowPitch + 4);
        column->addWidget(box);
        boxes[g] = box;
    }
    column->addStretch();

    QWidget* previous = nullptr;
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& f = cardFields()[static_cast<size_t>(i)];
        QGroupBox* box = boxes[static_cast<size_t>(f.group)];
        const int left = kGroupLeft + f.gridColumn * kCardColumnPitch;
        const int top = kRowTop + f.row * kRowPitch;

        auto* label = new QLabel(f.captionText(), box);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(left, top, kCardLabelWidth - 2, kControlHeight);

        QWidget* control = nullptr;
        if (f.isLookup())
            control = new DBLookupComboBox(box);
        else
            control = new GbkEdit(f.inputLimit, box);
        control->setObjectName(f.controlName());
        control->setGeometry(left + kCardLabelWidth, top, controlWidth(f.span), kControlHeight);
        label->setBuddy(control);
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
        m_controls[static_cast<size_t>(i)] = control;
    }
}

QString CardForm::value(int i) const
{
    if (auto* combo = qobject_cast<DBLookupComboBox*>(control(i)))
        return combo->text();
    return static_cast<GbkEdit*>(control(i))->text();
}

void CardForm::setValue(int i, const QString& text)
{
    if (auto* combo = qobject_cast<DBLookupComboBox*>(control(i)))
        combo->setKeyValue(text);
    else
        static_cast<GbkEdit*>(control(i))->setText(text);
}

QStringList CardForm::values() const
{
    QStringList all;
    for (int i = 0; i < kCardFieldCount; ++i)
        all << value(i);
    return all;
}

void CardForm::clearEdits()
{
    for (int i = 0; i < kCardFieldCount; ++i)
        if (!cardFields()[static_cast<size_t>(i)].isLookup())
            static_cast<GbkEdit*>(control(i))->clear();
}

void CardForm::fillLookups()
{
    // Field-table order puts category, sex and province in the order the loaders run.
    for (int i = 0; i < kCardFieldCount; ++i) {
        auto* combo = qobject_cast<DBLookupComboBox*>(control(i));
        switch (cardFields()[static_cast<size_t>(i)].lookup) {
        case CardLookup::Category: m_dm.DBComType(combo); break;
        case CardLookup::Sex: m_dm.DBComSex(combo); break;
        case CardLookup::Province: m_dm.DBComP(combo); break;
        case CardLookup::None: break;
        }
    }
}

void layoutCardWindow(QDialog* window, CardForm* form, QPushButton* first, QPushButton* second, QPushButton* leading)
{
    window->setFixedSize(860, 420);
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(24, 8, 24, 10);
    column->addWidget(form, 1, Qt::AlignTop | Qt::AlignHCenter);
    auto* buttons = new QHBoxLayout;
    if (leading)
        buttons->addWidget(leading);
    buttons->addStretch();
    buttons->addWidget(first);
    buttons->addWidget(second);
    column->addLayout(buttons);
    QWidget::setTabOrder(form->control(kCardFieldCount - 1), first);
    QWidget::setTabOrder(first, second);
    if (leading)
        QWidget::setTabOrder(second, leading);
}

} // namespace ostrel

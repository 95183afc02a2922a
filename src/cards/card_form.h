#pragma once
#include <QStringList>
#include <QWidget>

#include <array>

#include "core/card_fields.h"

class QDialog;
class QPushButton;

namespace ostrel {

class TfrmDM;

// The 24 card fields in their three group boxes, laid out from the field table. The card
// editor and the advanced search both show it.
class CardForm : public QWidget {
    Q_OBJECT
public:
    CardForm(TfrmDM& dm, QWidget* parent);

    // The control of field i (from 0, field-table order).
    QWidget* control(int i) const { return m_controls[static_cast<size_t>(i)]; }
    // A combo's displayed text or an edit's text as typed.
    QString value(int i) const;
    // A combo gets the key value (empty when not listed), an edit the text.
    void setValue(int i, const QString& text);
    // The 24 values in field-table order.
    QStringList values() const;
    // Empties the edit boxes; the combos keep their choice.
    void clearEdits();
    // Fills the category, sex and province lists, in this order.
    void fillLookups();

private:
    TfrmDM& m_dm;
    std::array<QWidget*, kCardFieldCount> m_controls{};
};

// The shared frame of the editor and the search: fixed 860 × 420, the form at the top, the
// two buttons at the bottom right in the given order; a leading button of the window's own
// stands at the bottom left.
void layoutCardWindow(QDialog* window, CardForm* form, QPushButton* first, QPushButton* second,
                      QPushButton* leading = nullptr);

} // namespace ostrel

#include "gbk_edit.h"

#include "formats/gbk.h"

#include <QValidator>

namespace ostrel {

namespace {

class GbkLimitValidator : public QValidator {
public:
    GbkLimitValidator(QLineEdit* edit, int maxBytes) : QValidator(edit), m_before(edit->text()), m_max(maxBytes)
    {
        // The edit already holds the new text when it asks; remember the one before.
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_before = text; });
    }

    // Text the program sets is taken as it is: a stored value longer than the entry limit
    // (an imported postal code, say) must load and save back unchanged.
    bool bypass = false;

    State validate(QString& input, int& pos) const override
    {
        if (bypass)
            return Acceptable;
        // A pasted NUL has no place in a card and would end a statement early.
        if (input.contains(QChar(u'\0'))) {
            pos -= static_cast<int>(input.left(pos).count(QChar(u'\0')));
            input.remove(QChar(u'\0'));
        }
        const int length = gbkLength(input);
        const QString& before = m_before;
        // Never refuse an edit that shortens the text, even one set too long by the program.
        if (length <= m_max || length <= gbkLength(before))
            return Acceptable;
        // Find what the edit inserted: the text between the unchanged start and end.
        qsizetype head = 0;
        while (head < before.size() && head < input.size() && before[head] == input[head])
            ++head;
        qsizetype tail = 0;
        while (tail < before.size() - head && tail < input.size() - head
               && before[before.size() - 1 - tail] == input[input.size() - 1 - tail])
            ++tail;
        if (head > 0 && input[head - 1].isHighSurrogate())
            --head;
        const QString start = input.left(head);
        const QString end = input.right(tail);
        const QString inserted = input.mid(head, input.size() - head - tail);
        const QString kept = gbkCut(inserted, m_max - gbkLength(start) - gbkLength(end));
        input = start + kept + end;
        pos = static_cast<int>(start.size() + kept.size());
        return gbkLength(input) <= m_max ? Acceptable : Invalid;
    }

private:
    QString m_before;
    int m_max;
};

} // namespace

void limitGbkBytes(QLineEdit* edit, int maxBytes)
{
    edit->setValidator(new GbkLimitValidator(edit, maxBytes));
}

void setTextUnlimited(QLineEdit* edit, const QString& text)
{
    auto* limit = dynamic_cast<GbkLimitValidator*>(const_cast<QValidator*>(edit->validator()));
    if (limit)
        limit->bypass = true;
    edit->setText(text);
    if (limit)
        limit->bypass = false;
    // A loaded value wider than its box shows from its first character, not its tail.
    edit->setCursorPosition(0);
}

GbkEdit::GbkEdit(int maxBytes, QWidget* parent) : QLineEdit(parent), m_maxBytes(maxBytes)
{
    limitGbkBytes(this, maxBytes);
}

void GbkEdit::setText(const QString& text)
{
    setTextUnlimited(this, text);
}

} // namespace ostrel

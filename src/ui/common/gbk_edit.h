#pragma once
#include <QLineEdit>

namespace ostrel {

// Limits what a user can type or paste into a line edit to maxBytes GBK bytes (ASCII one,
// Chinese two). A paste that does not fit is cut at a character boundary. Text set by the
// program is not limited.
void limitGbkBytes(QLineEdit* edit, int maxBytes);
// Sets a limited edit's text from the program, past its limit if need be, showing it from
// its start.
void setTextUnlimited(QLineEdit* edit, const QString& text);

// The single-line edit box of every window, with its GBK byte limit.
class GbkEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit GbkEdit(int maxBytes, QWidget* parent = nullptr);
    int maxBytes() const { return m_maxBytes; }
    // Hides QLineEdit::setText: what the program sets is not cut.
    void setText(const QString& text);

private:
    int m_maxBytes;
};

} // namespace ostrel

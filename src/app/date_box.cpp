#include "date_box.h"

#include "app/dialogs.h"
#include "core/loose_date.h"

#include <QLineEdit>

namespace ostrel {

namespace {

void refuse(QWidget* window, QLineEdit* box, const QString& boxName, DateForm form)
{
    const QString typed = box->text();
    if (typed.trimmed().isEmpty())
        showInfo(window, boxName + QStringLiteral(" 不能为空！"));
    else if (form == DateForm::Date)
        showInfo(window, QStringLiteral("%1 “%2” 不是有效的日期，请按 年-月-日 填写，例如 2024-06-05！").arg(boxName, typed));
    else
        showInfo(window, QStringLiteral("%1 “%2” 不是有效的月-日，请按 月-日 填写，例如 06-05！").arg(boxName, typed));
    box->setFocus();
    box->selectAll();
}

} // namespace

bool takeDate(QWidget* window, QLineEdit* box, const QString& boxName, DateForm form)
{
    const std::optional<QString> normal = form == DateForm::Date ? normalDate(box->text()) : normalMonthDay(box->text());
    if (!normal) {
        refuse(window, box, boxName, form);
        return false;
    }
    // The box shows what is used, so the next entry starts from it.
    if (box->text() != *normal)
        box->setText(*normal);
    return true;
}

bool takeDateBound(QWidget* window, QLineEdit* box, const QString& boxName, DateForm form)
{
    const bool meantAsDate = form == DateForm::Date ? looksLikeDate(box->text()) : looksLikeMonthDay(box->text());
    return !meantAsDate || takeDate(window, box, boxName, form);
}

} // namespace ostrel

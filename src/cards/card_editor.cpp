#include "card_editor.h"

#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/card_fields.h"
#include "card_form.h"
#include "card_statements.h"
#include "core/search_keys.h"
#include "engine/query.h"
#include "engine/transaction.h"
#include "ui/common/window_parts.h"

#include <QPushButton>
#include <QShowEvent>

namespace ostrel {

TfrmD_D::TfrmD_D(TfrmDM& dm, QWidget* parent) : QDialog(parent), m_db(dm.ADOConnection1)
{
    setCloseBoxOnly(this);
    Form = named(new CardForm(dm, this), "Form");
    ADOQuery1 = dm.newQuery(this, "ADOQuery1");
    ADOQuery2 = dm.newQuery(this, "ADOQuery2");
    BitBtn1 = named(new QPushButton(QStringLiteral("保存"), this), "BitBtn1");
    BitBtn2 = named(new QPushButton(QStringLiteral("退出"), this), "BitBtn2");
    // Enter in an edit box must not save a half-typed card.
    for (QPushButton* button : {BitBtn1, BitBtn2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    layoutCardWindow(this, Form, BitBtn1, BitBtn2);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmD_D::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::close);
    FormCreate();
}

void TfrmD_D::FormCreate()
{
    Form->fillLookups();
}

void TfrmD_D::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TfrmD_D::FormShow()
{
    if (CardID == QLatin1String("0"))
        myNew();
    else
        myLoad();
}

void TfrmD_D::focusName()
{
    Form->control(kNameField)->setFocus();
}

void TfrmD_D::myNew()
{
    ADOQuery1->run(QStringLiteral("select theType, theSex, theP from D_Mr"));
    if (ADOQuery1->recordCount() == 1) {
        for (int i = 0; i < kCardFieldCount; ++i) {
            const CardField& f = cardFields()[static_cast<size_t>(i)];
            if (f.defaultColumn)
                Form->setValue(i, ADOQuery1->text(QString::fromLatin1(f.defaultColumn)));
        }
    }
    Form->clearEdits();
    focusName();
}

void TfrmD_D::myLoad()
{
    ADOQuery1->run(loadCardSql(CardID));
    if (ADOQuery1->recordCount() != 1) {
        myNew();
        return;
    }
    for (int i = 0; i < kCardFieldCount; ++i)
        Form->setValue(i, ADOQuery1->text(cardFields()[static_cast<size_t>(i)].columnName()));
    m_loadedLive = ADOQuery1->text(QStringLiteral("theDel")) == QStringLiteral("否");
    m_loadedCounter = m_db.changeCounter(CardID.toLongLong());
}

void TfrmD_D::BitBtn1Click()
{
    const QString date = dateText(today());
    if (Form->value(kNameField).isEmpty()) {
        showInfo(this, QStringLiteral("姓名 不能为空！"));
        focusName();
        return;
    }
    const QStringList values = Form->values();
    if (CardID != QLatin1String("0")) {
        saveExisting(values);
        return;
    }
    const QString& type = values[kCategoryField];
    const QString& name = values[kNameField];
    const QString& sex = values[kSexField];
    ADOQuery1->run(duplicateCheckSql(type, name, sex));
    if (ADOQuery1->recordCount() >= 1) {
        showInfo(this, type + u' ' + name + u' ' + sex + QStringLiteral(" 已经存在！"));
        focusName();
        return;
    }
    {
        // The card and its search key are saved together or not at all.
        Transaction transaction(m_db);
        ADOQuery2->exec(insertCardSql(date, values));
        updateSearchKeys(m_db, {m_db.lastInsertId()});
        transaction.commit();
    }
    showInfo(this, QStringLiteral("恭喜！恭喜！名片 新增 保存成功！"));
    emit cardsChanged();
    myNew();
}

void TfrmD_D::saveExisting(const QStringList& values)
{
    // A card deleted while the editor was open must not be reported as saved. One that was
    // deleted already when it was loaded (the overviews open those) is saved as it is.
    ADOQuery1->run(m_loadedLive ? liveCardSql(CardID) : loadCardSql(CardID));
    bool saved = false;
    bool changedElsewhere = false;
    if (ADOQuery1->recordCount() >= 1) {
        Transaction transaction(m_db);
        // Read inside the transaction, where a server holds the card until the commit.
        const int64_t counter = m_db.changeCounter(CardID.toLongLong());
        changedElsewhere = m_loadedCounter != -1 && counter != -1 && counter != m_loadedCounter;
        if (!changedElsewhere) {
            saved = ADOQuery2->exec(updateCardSql(values, CardID)) > 0;
            if (saved)
                updateSearchKeys(m_db, {CardID.toLongLong()});
            transaction.commit();
        }
    }
    // Someone else saved the card since it was loaded: their change stays, and what was
    // typed here stays in the window (the card is no longer held while the box is shown).
    if (changedElsewhere) {
        showInfo(this, QStringLiteral("该名片已被其他用户修改，请重新打开后再修改。"));
        return;
    }
    if (!saved) {
        showInfo(this, QStringLiteral("该名片已不存在（可能已被删除），本次修改未保存！"));
        emit cardsChanged();
        close();
        return;
    }
    showInfo(this, QStringLiteral("恭喜！恭喜！名片 修改 保存成功！"));
    emit cardsChanged();
    accept();
}

} // namespace ostrel

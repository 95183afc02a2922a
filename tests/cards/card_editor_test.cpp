#include "core/open_database.h"
#include "app_fixture.h"
#include "cards/card_editor.h"
#include "core/card_fields.h"
#include "cards/card_form.h"
#include "engine/postgres/pg_connection.h"
#include "engine/query.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/lookup_combo.h"
#include "pg_server.h"
#include "ui_helpers.h"

#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace ostrel;

namespace {

constexpr int kPhoneField = 3;
constexpr int kProvinceField = 10;

class CardEditor : public test::AppFixture {
protected:
    // Opens the editor as the main window does, for a new card or the card id.
    TfrmD_D* open(const QString& cardId = QStringLiteral("0"))
    {
        editor.reset();
        if (!main)
            startMain();
        editor = std::make_unique<TfrmD_D>(dm, main.get());
        main->follow(*editor);
        editor->CardID = cardId;
        editor->show();
        return editor.get();
    }
    GbkEdit* edit(int field) const { return static_cast<GbkEdit*>(editor->Form->control(field)); }
    DBLookupComboBox* combo(int field) const { return static_cast<DBLookupComboBox*>(editor->Form->control(field)); }
    void type(int field, const QString& text) { test::typeText(edit(field), text); }
    void save()
    {
        testhooks::clear();
        QTest::mouseClick(editor->BitBtn1, Qt::LeftButton);
    }
    QString stored(int id, const char* column)
    {
        const QStringList v = this->column(QStringLiteral("select %1 from D_B where ID=%2").arg(QLatin1String(column)).arg(id));
        return v.isEmpty() ? QStringLiteral("<none>") : v.first();
    }
    static QWidget* nextTabStop(QWidget* w)
    {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    }
    // A fresh main window; the editor it owned goes first.
    void restartMain()
    {
        editor.reset();
        startMain();
    }
    QStringList comboTexts() const { return {combo(kCategoryField)->text(), combo(kSexField)->text(), combo(kProvinceField)->text()}; }
    int cardCount() { return column(QStringLiteral("select count(*) from D_B")).first().toInt(); }

    std::unique_ptr<TfrmD_D> editor;
};

} // namespace

TEST_F(CardEditor, FormFollowsTheFieldTable)
{
    open();
    EXPECT_EQ(editor->size(), QSize(860, 420));
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& f = cardFields()[static_cast<size_t>(i)];
        QWidget* c = editor->Form->control(i);
        EXPECT_EQ(c->objectName(), f.controlName());
        EXPECT_EQ(c->width(), controlWidth(f.span)) << f.control;
        if (!f.isLookup()) {
            EXPECT_EQ(static_cast<GbkEdit*>(c)->maxBytes(), f.inputLimit) << f.control;
        }
        if (i > 0) {
            EXPECT_EQ(nextTabStop(editor->Form->control(i - 1)), c) << f.control;
        }
    }
}

TEST_F(CardEditor, NameMustHoldACharacterButBlanksCount)
{
    struct Case {
        QString name;
        bool saved;
    };
    for (const Case& c : {Case{QString(), false}, Case{QStringLiteral("  "), true}}) {
        SCOPED_TRACE(c.name.size());
        exec(QStringLiteral("delete from D_B"));
        open();
        QTest::keyClicks(edit(kNameField), c.name); // ASCII blanks, typed key by key
        type(kPhoneField, QStringLiteral("123"));
        save();
        if (c.saved) {
            EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 新增 保存成功！")});
            EXPECT_EQ(column(QStringLiteral("select BName from D_B")), QStringList{c.name});
        } else {
            EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("姓名 不能为空！")});
            EXPECT_EQ(cardCount(), 0);
            EXPECT_EQ(edit(kPhoneField)->text(), QStringLiteral("123")); // input kept
        }
    }
}

TEST_F(CardEditor, DuplicateCheckCoversLiveCardsWithTheSameCategoryNameAndSex)
{
    struct Case {
        const char* what;
        bool twinDeleted;
        QString type;
        QString sex;
        bool blocked;
    };
    const Case cases[] = {
        {"same three values", false, QStringLiteral("客户"), QStringLiteral("男"), true},
        {"twin soft-deleted", true, QStringLiteral("客户"), QStringLiteral("男"), false},
        {"other sex", false, QStringLiteral("客户"), QStringLiteral("女"), false},
        {"other category", false, QStringLiteral("同事"), QStringLiteral("男"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        exec(QStringLiteral("delete from D_B"));
        const int twin = addCard(QStringLiteral("张三"), QStringLiteral("男"), QStringLiteral("客户"));
        if (c.twinDeleted)
            exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(twin));
        open();
        editor->Form->setValue(kCategoryField, c.type);
        editor->Form->setValue(kSexField, c.sex);
        type(kNameField, QStringLiteral("张三"));
        save();
        if (c.blocked) {
            EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("客户 张三 男 已经存在！")});
            EXPECT_EQ(cardCount(), 1);
            EXPECT_EQ(edit(kNameField)->text(), QStringLiteral("张三"));
        } else {
            EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 新增 保存成功！")});
            EXPECT_EQ(cardCount(), 2);
        }
    }
}

TEST_F(CardEditor, DefaultsApplyOnlyWithExactlyOneDefaultRow)
{
    struct Case {
        int rows;
        QStringList combos;
    };
    const Case cases[] = {
        {0, {QString(), QString(), QString()}},
        {1, {QStringLiteral("同事"), QStringLiteral("女"), QStringLiteral("上海")}},
        {2, {QString(), QString(), QString()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        exec(QStringLiteral("delete from D_Mr"));
        for (int r = 0; r < c.rows; ++r)
            exec(QStringLiteral("insert into D_Mr(theType,theSex,theP) values('同事','女','上海')"));
        open();
        EXPECT_EQ(comboTexts(), c.combos);
        EXPECT_EQ(editor->focusWidget(), editor->Form->control(kNameField));
    }
}

TEST_F(CardEditor, ValuesNoLongerListedLoadEmptyAndSaveEmpty)
{
    const int id = addCard(QStringLiteral("李四"), QStringLiteral("未知"), QStringLiteral("旧分类"));
    exec(QStringLiteral("update D_B set DArea='火星', DCity='广州' where ID=%1").arg(id));
    open(QString::number(id));
    EXPECT_EQ(comboTexts(), (QStringList{QString(), QString(), QString()}));
    EXPECT_EQ(edit(kNameField)->text(), QStringLiteral("李四"));
    save();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")});
    EXPECT_EQ(stored(id, "theType") + stored(id, "BSex") + stored(id, "DArea"), QString());
    EXPECT_EQ(stored(id, "DCity"), QStringLiteral("广州"));
}

TEST_F(CardEditor, LoadedValuesShowFromTheirFirstCharacter)
{
    constexpr int kMailField = 5;
    const int id = addCard(QStringLiteral("李四"));
    exec(QStringLiteral("update D_B set BMail='zhangsan@example.com', FDes='%1' where ID=%2")
             .arg(QStringLiteral("很长的补充信息").repeated(12))
             .arg(id));
    open(QString::number(id));
    for (int field : {kMailField, kCardFieldCount - 1}) {
        GbkEdit* box = edit(field);
        ASSERT_GT(box->fontMetrics().horizontalAdvance(box->text()), box->width()); // wider than its box
        box->grab(); // painted, so the box has scrolled to show its cursor
        EXPECT_EQ(box->cursorPositionAt(QPoint(6, box->height() / 2)), 0) << box->objectName().toStdString();
    }
}

TEST_F(CardEditor, NewCardModeSavesStaysOpenAndResets)
{
    setToday({2026, 2, 3});
    startMain();
    const int listed = main->ADOQuery1->recordCount();
    open();
    editor->Form->setValue(kSexField, QStringLiteral("女"));
    type(kNameField, QStringLiteral("王五"));
    type(kPhoneField, QStringLiteral("010-1234"));
    save();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 新增 保存成功！")});
    const int id = column(QStringLiteral("select max(ID) from D_B")).first().toInt();
    EXPECT_EQ(stored(id, "theDate"), QStringLiteral("2026-02-03"));
    EXPECT_EQ(stored(id, "theDel"), QStringLiteral("否"));
    EXPECT_EQ(stored(id, "BSex"), QStringLiteral("女"));
    EXPECT_EQ(stored(id, "BPho"), QStringLiteral("010-1234"));
    EXPECT_EQ(main->ADOQuery1->recordCount(), listed + 1);
    // Ready for the next card: still open, edits empty, the delivered defaults back.
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->CardID, QStringLiteral("0"));
    EXPECT_EQ(edit(kNameField)->text(), QString());
    EXPECT_EQ(edit(kPhoneField)->text(), QString());
    EXPECT_EQ(comboTexts(), (QStringList{QStringLiteral("客户"), QStringLiteral("男"), QStringLiteral("北京")}));

    type(kNameField, QStringLiteral("赵六"));
    save();
    EXPECT_EQ(main->ADOQuery1->recordCount(), listed + 2);
}

TEST_F(CardEditor, EnterInAnEditBoxDoesNotSave)
{
    open();
    type(kNameField, QStringLiteral("王五"));
    testhooks::clear();
    QTest::keyClick(edit(kNameField), Qt::Key_Return);
    EXPECT_TRUE(testhooks::shownTexts().isEmpty());
    EXPECT_EQ(cardCount(), 0);
}

TEST_F(CardEditor, ExistingCardModeSavesClosesAndKeepsDateAndState)
{
    const int id = addCard(QStringLiteral("李四"), QStringLiteral("男"), QStringLiteral("客户"), QStringLiteral("2025-05-05"));
    addCard(QStringLiteral("李四"), QStringLiteral("女")); // changing into a copy is allowed
    setToday({2026, 2, 3});
    startMain();
    open(QString::number(id));
    EXPECT_EQ(comboTexts(), (QStringList{QStringLiteral("客户"), QStringLiteral("男"), QString()}));
    editor->Form->setValue(kSexField, QStringLiteral("女"));
    type(kPhoneField, QStringLiteral("555"));
    save();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")});
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->result(), QDialog::Accepted);
    EXPECT_EQ(stored(id, "BSex") + stored(id, "BPho"), QStringLiteral("女555"));
    EXPECT_EQ(stored(id, "theDate") + stored(id, "theDel"), QStringLiteral("2025-05-05否"));
    EXPECT_EQ(cardCount(), 2);
}

TEST_F(CardEditor, CardGoneBeforeSavingIsReportedNotSaved)
{
    struct Case {
        const char* what;
        bool missing; // never there rather than soft-deleted while open
    };
    for (const Case& c : {Case{"deleted while open", false}, Case{"no such card", true}}) {
        SCOPED_TRACE(c.what);
        exec(QStringLiteral("delete from D_B"));
        const int id = addCard(QStringLiteral("李四"));
        restartMain();
        const QString cardId = c.missing ? QString::number(id + 100) : QString::number(id);
        open(cardId);
        if (!c.missing) {
            exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(id));
            EXPECT_EQ(main->ADOQuery1->recordCount(), 1);
        }
        edit(kNameField)->setText(QStringLiteral("改名"));
        save();
        EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("该名片已不存在（可能已被删除），本次修改未保存！")});
        EXPECT_FALSE(editor->isVisible());
        EXPECT_EQ(stored(id, "BName"), QStringLiteral("李四"));
        EXPECT_EQ(cardCount(), 1);
        EXPECT_EQ(main->ADOQuery1->recordCount(), c.missing ? 1 : 0);
    }
}

TEST_F(CardEditor, CardDeletedBeforeOpeningFromAnOverviewIsSaved)
{
    const int id = addCard(QStringLiteral("李四"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(id));
    restartMain();
    open(QString::number(id));
    editor->setWindowTitle(QStringLiteral("查看 名片"));
    EXPECT_EQ(edit(kNameField)->text(), QStringLiteral("李四"));
    edit(kNameField)->setText(QStringLiteral("改名"));
    type(kPhoneField, QStringLiteral("555"));
    save();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")});
    EXPECT_EQ(editor->result(), QDialog::Accepted);
    EXPECT_EQ(stored(id, "BName") + stored(id, "BPho") + stored(id, "theDel"), QStringLiteral("改名555是"));
    EXPECT_EQ(main->ADOQuery1->recordCount(), 0); // still deleted, so still not listed
}

TEST_F(CardEditor, SaveOverAnotherUsersChangeIsRefusedKeepingWhatWasTyped)
{
    OSTREL_FILE_ONLY("a stand-in engine on the file; TeamCardEditor is the real server's case");
    // An engine with change counters on the test's file; the test plays the other user.
    struct CountingFile : SqlCipherConnection {
        CountingFile() : SqlCipherConnection(cardDatabaseRules()) {}
        std::vector<int64_t> counters; // what the reads return, in order
        std::vector<bool> readsInTransaction;
        int64_t changeCounter(int64_t) override
        {
            readsInTransaction.push_back(inTransaction());
            return counters[std::min(readsInTransaction.size(), counters.size()) - 1];
        }
    };
    struct Case {
        const char* what;
        int64_t loaded, atSave;
        bool refused;
    };
    const int id = addCard(QStringLiteral("李四"));
    startMain();
    for (const Case& c : {Case{"the file keeps no counter", -1, -1, false}, Case{"unchanged since loading", 7, 7, false},
                          Case{"saved by someone else meanwhile", 7, 8, true}}) {
        SCOPED_TRACE(c.what);
        exec(QStringLiteral("update D_B set BName='李四' where ID=%1").arg(id));
        auto engine = std::make_unique<CountingFile>();
        CountingFile& counted = *engine;
        counted.counters = {c.loaded, c.atSave};
        counted.setConnectionString(database.connectionString());
        TfrmDM team(std::move(engine));
        editor = std::make_unique<TfrmD_D>(team, main.get());
        editor->CardID = QString::number(id);
        editor->show();
        edit(kNameField)->setText(QStringLiteral("改名"));
        if (c.refused)
            exec(QStringLiteral("update D_B set BName='王五' where ID=%1").arg(id));
        save();
        EXPECT_EQ(testhooks::shownTexts(), QStringList{c.refused ? QStringLiteral("该名片已被其他用户修改，请重新打开后再修改。")
                                                                 : QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")});
        EXPECT_EQ(counted.readsInTransaction, (std::vector<bool>{false, true}));
        EXPECT_FALSE(counted.inTransaction());
        EXPECT_EQ(editor->isVisible(), c.refused);
        EXPECT_EQ(edit(kNameField)->text(), QStringLiteral("改名"));
        EXPECT_EQ(stored(id, "BName"), c.refused ? QStringLiteral("王五") : QStringLiteral("改名"));
        editor.reset();
    }
}

TEST(TeamCardEditor, TwoDesktopsEditingOneCardTheSecondSaveIsRefused)
{
    OSTREL_NEEDS_SERVER();
    testhooks::clear();
    const QString server = test::freshServerDatabase();
    TfrmDM first(std::make_unique<PgConnection>(server, cardDatabaseRules()));
    TfrmDM second(std::make_unique<PgConnection>(server, cardDatabaseRules()));
    first.ADOConnection1.execute(
        QStringLiteral("insert into D_B(theDate,theType,BName,BSex,theDel) values('2026-01-01','客户','李四','男','否')"));
    const QString id = first.ADOConnection1.select(QStringLiteral("select max(ID) from D_B")).text(0, 0);
    std::vector<std::unique_ptr<TfrmD_D>> editors;
    for (TfrmDM* desktop : {&first, &second}) {
        editors.push_back(std::make_unique<TfrmD_D>(*desktop, nullptr));
        editors.back()->CardID = id;
        editors.back()->show();
    }
    const QString typed[] = {QStringLiteral("第一台"), QStringLiteral("第二台")};
    for (size_t i = 0; i < editors.size(); ++i) {
        static_cast<GbkEdit*>(editors[i]->Form->control(kNameField))->setText(typed[i]);
        QTest::mouseClick(editors[i]->BitBtn1, Qt::LeftButton);
    }
    EXPECT_EQ(testhooks::shownTexts(), (QStringList{QStringLiteral("恭喜！恭喜！名片 修改 保存成功！"),
                                                    QStringLiteral("该名片已被其他用户修改，请重新打开后再修改。")}));
    EXPECT_TRUE(editors[1]->isVisible());
    EXPECT_EQ(static_cast<GbkEdit*>(editors[1]->Form->control(kNameField))->text(), typed[1]);
    EXPECT_EQ(second.ADOConnection1.select(QStringLiteral("select BName from D_B where ID=") + id).text(0, 0), typed[0]);
    EXPECT_FALSE(second.ADOConnection1.inTransaction());
    testhooks::clear();
}

TEST_F(CardEditor, SingleQuotesAreStoredAndFoundAsTyped)
{
    open();
    type(kNameField, QStringLiteral("O'Brien"));
    // A pasted NUL is dropped: it would end the statement early.
    edit(kPhoneField)->insert(QStringLiteral("12'3") + QChar(u'\0') + QStringLiteral("4"));
    save();
    const int id = column(QStringLiteral("select max(ID) from D_B")).first().toInt();
    EXPECT_EQ(stored(id, "BName") + u'|' + stored(id, "BPho"), QStringLiteral("O'Brien|12'34"));
    // The duplicate check finds it again.
    type(kNameField, QStringLiteral("O'Brien"));
    save();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("客户 O'Brien 男 已经存在！")});
    // And it loads back as typed.
    open(QString::number(id));
    EXPECT_EQ(edit(kNameField)->text(), QStringLiteral("O'Brien"));
    EXPECT_EQ(edit(kPhoneField)->text(), QStringLiteral("12'34"));
}

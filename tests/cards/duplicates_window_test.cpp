// 查找重复名片… of the 数据 menu: the list of groups with their reasons, the merge view and its
// refusals, "不是重复" and forgetting it, through the real windows.
#include "cards/duplicate_windows.h"
#include "main_window_fixture.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTableWidget>

using namespace ostrel;
using test::MainWindow;

namespace {

// Saved for a look at the windows when OSTREL_SCREENSHOTS names a folder.
void grab(QWidget* window, const char* name)
{
    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOTS");
    if (!dir.isEmpty())
        window->grab().save(QDir(dir).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}

QStringList groupsShown(TfrmDupList* list)
{
    QStringList rows;
    const QAbstractItemModel* model = list->GroupTable->model();
    for (int r = 0; r < model->rowCount(); ++r)
        rows << model->index(r, 0).data().toString() + u'|' + model->index(r, 2).data().toString();
    return rows;
}

class Duplicates : public MainWindow {
protected:
    void SetUp() override
    {
        zhang = addCard(QStringLiteral("张伟"));
        exec(QStringLiteral("update D_B set BMob='138-0013-8000', DName='华为', FDes='老客户' where ID=%1").arg(zhang));
        zhangAgain = addCard(QStringLiteral("张 伟"), QStringLiteral("男"), QStringLiteral("朋友"));
        exec(QStringLiteral("update D_B set BMob='+86 13800138000', DJob='总监' where ID=%1").arg(zhangAgain));
        exec(QStringLiteral("insert into DList (DID, LDate, LType, LMemo) values (%1, '2026-01-05', '面谈', '谈价')").arg(zhang));
        exec(QStringLiteral("insert into DJNR (DID, JDate, JMemo) values (%1, '1990-05-01', '生日')").arg(zhangAgain));
        const int wang = addCard(QStringLiteral("王芳"), QStringLiteral("女"));
        const int li = addCard(QStringLiteral("李娜"), QStringLiteral("女"));
        exec(QStringLiteral("update D_B set BMail='wf@x.cn' where ID in (%1, %2)").arg(wang).arg(li));
        startMain();
    }
    // Opens the list, runs step on it, and closes it.
    void withList(const std::function<void(TfrmDupList*)>& step)
    {
        testhooks::queueModal([&](QDialog* window) {
            auto* list = qobject_cast<TfrmDupList*>(window);
            ASSERT_NE(list, nullptr);
            step(list);
        });
        runGuarded([&] { main->FindDuplicatesAction->trigger(); });
        EXPECT_EQ(testhooks::pendingModals(), 0);
    }
    int zhang = 0, zhangAgain = 0;
};

TEST_F(Duplicates, GroupsListedStrongestFirstAndMergedWithEveryVisitAndAnniversary)
{
    withList([&](TfrmDupList* list) {
        grab(list, "duplicates-list");
        EXPECT_EQ(groupsShown(list), (QStringList{QStringLiteral("张伟（华为）、张 伟|移动电话相同、姓名与电话相同"),
                                                  QStringLiteral("王芳、李娜|电子邮箱相同")}));
        testhooks::queueModal([&](QDialog* window) {
            auto* merge = qobject_cast<TfrmDupMerge*>(window);
            ASSERT_NE(merge, nullptr);
            QTableWidget* table = merge->FieldTable;
            // The card with the visit is kept; the differing name row can be chosen, the sex row not.
            EXPECT_EQ(table->item(TfrmDupMerge::kKeptRow, 0)->checkState(), Qt::Checked);
            EXPECT_TRUE(table->item(TfrmDupMerge::fieldRow(kNameField), 1)->flags() & Qt::ItemIsUserCheckable);
            EXPECT_FALSE(table->item(TfrmDupMerge::fieldRow(kSexField), 1)->flags() & Qt::ItemIsUserCheckable);
            merge->choose(TfrmDupMerge::fieldRow(kNameField), 1);
            EXPECT_EQ(merge->NoteEdit->toPlainText(), QStringLiteral("老客户；分类：朋友；姓名：张伟；移动电话：+86 13800138000"));
            grab(merge, "duplicates-merge");
            // Too long a note is refused until it is shortened.
            merge->NoteEdit->setPlainText(QString(101, QChar(u'注')));
            merge->MergeButton->click();
            EXPECT_TRUE(testhooks::shownTexts().last().contains(QStringLiteral("202 个字节"))) << testhooks::shownTexts().join(u'|').toStdString();
            EXPECT_TRUE(merge->isVisible());
            merge->NoteEdit->setPlainText(QStringLiteral("老客户；分类：朋友；姓名：张伟"));
            // A changed choice keeps the edited note each time the user says so.
            testhooks::queueAnswer(false);
            testhooks::queueAnswer(false);
            merge->choose(TfrmDupMerge::fieldRow(kCategoryField), 1);
            merge->choose(TfrmDupMerge::fieldRow(kCategoryField), 0);
            EXPECT_EQ(merge->NoteEdit->toPlainText(), QStringLiteral("老客户；分类：朋友；姓名：张伟"));
            testhooks::queueAnswer(true);
            merge->MergeButton->click();
        });
        list->MergeButton->click();
        EXPECT_EQ(groupsShown(list), QStringList{QStringLiteral("王芳、李娜|电子邮箱相同")});
    });
    EXPECT_EQ(column(QStringLiteral("select BName from D_B where theDel='否' and ID in (%1, %2)").arg(zhang).arg(zhangAgain)),
              QStringList{QStringLiteral("张 伟")});
    EXPECT_EQ(column(QStringLiteral("select theType || '/' || BMob || '/' || DName || '/' || DJob || '/' || FDes from D_B where ID=%1").arg(zhang)),
              QStringList{QStringLiteral("客户/138-0013-8000/华为/总监/老客户；分类：朋友；姓名：张伟")});
    EXPECT_EQ(column(QStringLiteral("select DID from DList union all select DID from DJNR")), (QStringList{QString::number(zhang), QString::number(zhang)}));
    EXPECT_TRUE(listedNames().contains(QStringLiteral("张 伟")) && !listedNames().contains(QStringLiteral("张伟")));
}

TEST_F(Duplicates, NotADuplicateIsRememberedUntilForgotten)
{
    withList([&](TfrmDupList* list) {
        list->GroupTable->selectRow(1);
        list->NotDuplicateButton->click();
        EXPECT_EQ(groupsShown(list).size(), 1);
    });
    withList([&](TfrmDupList* list) { EXPECT_EQ(groupsShown(list).size(), 1); });
    testhooks::queueAnswer(true);
    runGuarded([&] { main->ForgetNotDuplicatesAction->trigger(); });
    EXPECT_EQ(testhooks::shownTexts().last(), QStringLiteral("已忘记 1 对名片“不是重复”的决定。"));
    withList([&](TfrmDupList* list) { EXPECT_EQ(groupsShown(list).size(), 2); });
}

TEST_F(Duplicates, ACardDeletedSinceTheListIsNotMerged)
{
    withList([&](TfrmDupList* list) {
        exec(QStringLiteral("Update D_B Set theDel='是' where ID=%1").arg(zhangAgain));
        list->MergeButton->click();
        EXPECT_TRUE(testhooks::shownTexts().last().contains(QStringLiteral("已被删除")));
        EXPECT_EQ(groupsShown(list).size(), 1);
    });
    EXPECT_EQ(column(QStringLiteral("select theDel from D_B where ID=%1").arg(zhang)), QStringList{QStringLiteral("否")});
}

} // namespace

#include "app_fixture.h"
#include "cards/advanced_search.h"
#include "core/card_fields.h"
#include "cards/card_form.h"
#include "engine/query.h"
#include "ui/common/db_grid.h"
#include "ui_helpers.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace ostrel;

namespace {

constexpr int kPhoneField = 3;
constexpr int kFamilyNoteField = 23;

class AdvancedSearch : public test::AppFixture {
protected:
    void SetUp() override
    {
        const int a = addCard(QStringLiteral("张三"), QStringLiteral("男"), QStringLiteral("客户"));
        const int b = addCard(QStringLiteral("张三丰"), QStringLiteral("女"), QStringLiteral("同事"));
        addCard(QStringLiteral("O'Brien"), QStringLiteral("男"), QStringLiteral("客户"));
        const int gone = addCard(QStringLiteral("张无忌"));
        exec(QStringLiteral("update D_B set BPho='010-888', FDes='老友' where ID=%1").arg(a));
        exec(QStringLiteral("update D_B set BPho='020-888', FDes='老友' where ID=%1").arg(b));
        exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(gone));
        startMain();
        search = std::make_unique<TfrmM_Q>(dm, main.get());
        main->follow(*search);
        search->show();
    }
    void TearDown() override { search.reset(); }

    void type(int field, const QString& text) { test::typeText(search->Form->control(field), text); }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    QStringList listedNames()
    {
        QStringList names;
        const int c = main->ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
        for (int r = 0; r < main->ADOQuery1->rows().rowCount(); ++r)
            names << main->ADOQuery1->rows().text(r, c);
        names.sort();
        return names;
    }

    std::unique_ptr<TfrmM_Q> search;
};

} // namespace

TEST_F(AdvancedSearch, ClausesOnlyForFilledFieldsInTableOrderUntrimmed)
{
    EXPECT_EQ(search->size(), QSize(860, 420));
    EXPECT_EQ(search->windowTitle(), QStringLiteral("更多条件"));
    EXPECT_TRUE(search->BitBtn1->isDefault());
    EXPECT_EQ(search->Form->values(), QStringList(kCardFieldCount, QString())); // combos read no defaults
    // Filled back to front: the clauses still come in table order.
    type(kFamilyNoteField, QStringLiteral("老友"));
    type(kPhoneField, QStringLiteral("888"));
    search->Form->setValue(kSexField, QStringLiteral("男"));
    type(kNameField, QStringLiteral("张三"));
    click(search->BitBtn1);
    EXPECT_EQ(main->cardFilter, QStringLiteral(" AND (BName LIKE '%张三%') AND (BSex = '男') AND (BPho LIKE '%888%')"
                                               " AND (FDes LIKE '%老友%')"));
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("张三")});
    EXPECT_FALSE(search->isVisible());
}

TEST_F(AdvancedSearch, TrailingBlankIsSearchedWithTheBlank)
{
    type(kNameField, QStringLiteral("张三 "));
    click(search->BitBtn1);
    EXPECT_EQ(main->cardFilter, QStringLiteral(" AND (BName LIKE '%张三 %')"));
    EXPECT_EQ(main->ADOQuery1->recordCount(), 0);
}

TEST_F(AdvancedSearch, EmptyFormReplacesAnEarlierFilterAndListsEveryLiveCard)
{
    main->cardFilter = QStringLiteral(" AND (BName LIKE '%O%')");
    main->myRef();
    ASSERT_EQ(main->ADOQuery1->recordCount(), 1);
    click(search->BitBtn1);
    EXPECT_EQ(main->cardFilter, QString());
    EXPECT_EQ(listedNames(), (QStringList{QStringLiteral("O'Brien"), QStringLiteral("张三"), QStringLiteral("张三丰")}));
}

TEST_F(AdvancedSearch, ExitLeavesTheFilterAndTheList)
{
    main->cardFilter = QStringLiteral(" AND (BName LIKE '%O%')");
    main->myRef();
    type(kNameField, QStringLiteral("张"));
    click(search->BitBtn2);
    EXPECT_FALSE(search->isVisible());
    EXPECT_EQ(main->cardFilter, QStringLiteral(" AND (BName LIKE '%O%')"));
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("O'Brien")});
}

TEST_F(AdvancedSearch, LookupMatchesExactlyTextMatchesAnywhere)
{
    search->Form->setValue(kCategoryField, QStringLiteral("客户"));
    type(kNameField, QStringLiteral("'B"));
    click(search->BitBtn1);
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("O'Brien")});
}

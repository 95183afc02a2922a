#include "core/card_fields.h"
#include "cards/card_statements.h"
#include "engine/engine_error.h"
#include "qt_print.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QStringList sampleCard()
{
    QStringList values;
    for (const CardField& field : cardFields())
        values << field.importTitleText();
    values[kNameField] = QStringLiteral("O'Brien");
    return values;
}

} // namespace

TEST(CardStatements, InsertNamesTwentySixColumnsInTableOrder)
{
    EXPECT_EQ(insertCardSql(QStringLiteral("2026-03-05"), sampleCard()),
              QStringLiteral("Insert into D_B(theDate,theType,BName,BSex,BPho,BMob,BMail,BQQ,BMSN,BWW,BDes,DArea,DCity,"
                             "DName,DPart,DJob,DAdd,DPho,DFax,DPos,DWWW,FAdd,FPho,FPro,FDes,theDel) values('2026-03-05',"
                             "'分类','O''Brien','性别','固定电话','移动电话','电子邮箱','QQ号码','MSN号码','阿里旺旺','描述',"
                             "'省份','城市','单位名称','所在部门','担任职务','单位地址','单位电话','单位传真','邮政编码',"
                             "'单位网站','家庭地址','家庭电话','家属姓名','补充信息','否')"));
    // Prepared once by the import: a `?` where each quoted value stood.
    EXPECT_EQ(insertCardSql(),
              QStringLiteral("Insert into D_B(theDate,theType,BName,BSex,BPho,BMob,BMail,BQQ,BMSN,BWW,BDes,DArea,DCity,"
                             "DName,DPart,DJob,DAdd,DPho,DFax,DPos,DWWW,FAdd,FPho,FPro,FDes,theDel) values(?,"
                             "?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,'否')"));
}

TEST(CardStatements, UpdateSetsTheFieldsOfOneCard)
{
    EXPECT_EQ(updateCardSql(sampleCard(), QStringLiteral("42")),
              QStringLiteral("Update D_B set theType='分类',BName='O''Brien',BSex='性别',BPho='固定电话',BMob='移动电话',"
                             "BMail='电子邮箱',BQQ='QQ号码',BMSN='MSN号码',BWW='阿里旺旺',BDes='描述',DArea='省份',"
                             "DCity='城市',DName='单位名称',DPart='所在部门',DJob='担任职务',DAdd='单位地址',DPho='单位电话',"
                             "DFax='单位传真',DPos='邮政编码',DWWW='单位网站',FAdd='家庭地址',FPho='家庭电话',"
                             "FPro='家属姓名',FDes='补充信息' Where id=42"));
}

TEST(CardStatements, DuplicateCheckAndSearchFilterQuoteValues)
{
    EXPECT_EQ(duplicateCheckSql(QStringLiteral("客户"), QStringLiteral("O'B"), QString()),
              QStringLiteral("select ID from D_B Where theType='客户' and BName='O''B' and BSex='' and theDel='否'"));
    EXPECT_EQ(duplicateCheckSql(), QStringLiteral("select ID from D_B Where theType=? and BName=? and BSex=? and theDel='否'"));
    QStringList values(kCardFieldCount);
    values[9] = QStringLiteral("a'b");
    values[0] = QStringLiteral("客户");
    values[1] = QStringLiteral(" 张 ");
    EXPECT_EQ(cardSearchFilter(values), QStringLiteral(" AND (theType = '客户') AND (BName LIKE '% 张 %') AND (Bdes LIKE '%a''b%')"));
    EXPECT_EQ(cardSearchFilter(QStringList(kCardFieldCount)), QString());
}

TEST(CardStatements, CardIdMustBeANumber)
{
    for (const char* bad : {"", "1 or 1=1", "-1", "12a", "1234567890123456789"}) {
        EXPECT_FALSE(isCardId(QString::fromLatin1(bad))) << bad;
        EXPECT_THROW(loadCardSql(QString::fromLatin1(bad)), EngineError) << bad;
    }
    EXPECT_EQ(liveCardSql(QStringLiteral("7")), QStringLiteral("select ID from D_B Where ID=7 and theDel='否'"));
    EXPECT_THROW(insertCardSql(QStringLiteral("2026-01-01"), QStringList{QStringLiteral("x")}), EngineError);
}

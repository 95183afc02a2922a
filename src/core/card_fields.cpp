#include "core/card_fields.h"

namespace ostrel {

namespace {

// The card fields with their layout, their import titles and cuts, and the advanced
// search's clause openings, one row per field. Each row: number, group, caption, control,
// D_B column, input limit (GBK bytes, 0 = from the list), lookup list, D_Mr default column,
// layout row, column and span, import title, import cut (GBK bytes), search clause opening,
// search key part.
// The captions with inner blanks hold eight of them; "QQ   号码：" three, "MSN 号码：" one.
// The description column is written BDes in the statements and Bdes in the search.
constexpr std::array<CardField, kCardFieldCount> kFields = {{
    {1,  0, "分        类：", "DBLookupComboBox1", "theType", 0,   CardLookup::Category, "theType", 0, 0, 1, "分类",     10,  " AND (theType = '", SearchKeyPart::None},
    {2,  0, "姓        名：", "EditB1",            "BName",   20,  CardLookup::None,     nullptr,   1, 0, 1, "姓名",     20,  " AND (BName LIKE '%", SearchKeyPart::Name},
    {3,  0, "性        别：", "DBLookupComboBox2", "BSex",    0,   CardLookup::Sex,      "theSex",  1, 1, 1, "性别",     4,   " AND (BSex = '", SearchKeyPart::None},
    {4,  0, "固定电话：",     "EditB2",            "BPho",    50,  CardLookup::None,     nullptr,   1, 2, 1, "固定电话", 50,  " AND (BPho LIKE '%", SearchKeyPart::Phone},
    {5,  0, "移动电话：",     "EditB3",            "BMob",    50,  CardLookup::None,     nullptr,   1, 3, 1, "移动电话", 50,  " AND (BMob LIKE '%", SearchKeyPart::Phone},
    {6,  0, "电子邮箱：",     "EditB4",            "BMail",   50,  CardLookup::None,     nullptr,   2, 0, 1, "电子邮箱", 50,  " AND (BMail LIKE '%", SearchKeyPart::Mail},
    {7,  0, "QQ   号码：",    "EditB5",            "BQQ",     50,  CardLookup::None,     nullptr,   2, 1, 1, "QQ号码",   50,  " AND (BQQ LIKE '%", SearchKeyPart::None},
    {8,  0, "MSN 号码：",     "EditB6",            "BMSN",    50,  CardLookup::None,     nullptr,   2, 2, 1, "MSN号码",  50,  " AND (BMSN LIKE '%", SearchKeyPart::None},
    {9,  0, "阿里旺旺：",     "EditB7",            "BWW",     50,  CardLookup::None,     nullptr,   2, 3, 1, "阿里旺旺", 50,  " AND (BWW LIKE '%", SearchKeyPart::None},
    {10, 0, "描        述：", "EditB8",            "BDes",    200, CardLookup::None,     nullptr,   3, 0, 4, "描述",     200, " AND (Bdes LIKE '%", SearchKeyPart::None},
    {11, 1, "省        份：", "DBLookupComboBox3", "DArea",   0,   CardLookup::Province, "theP",    0, 0, 1, "省份",     10,  " AND (DArea = '", SearchKeyPart::None},
    {12, 1, "城        市：", "EditD1",            "DCity",   20,  CardLookup::None,     nullptr,   0, 1, 1, "城市",     20,  " AND (DCity LIKE '%", SearchKeyPart::None},
    {13, 1, "单位名称：",     "EditD2",            "DName",   50,  CardLookup::None,     nullptr,   0, 2, 2, "单位名称", 50,  " AND (DName LIKE '%", SearchKeyPart::Company},
    {14, 1, "所在部门：",     "EditD3",            "DPart",   20,  CardLookup::None,     nullptr,   1, 0, 1, "所在部门", 20,  " AND (DPart LIKE '%", SearchKeyPart::None},
    {15, 1, "担任职务：",     "EditD4",            "DJob",    20,  CardLookup::None,     nullptr,   1, 1, 1, "担任职务", 20,  " AND (DJob LIKE '%", SearchKeyPart::None},
    {16, 1, "单位地址：",     "EditD5",            "DAdd",    50,  CardLookup::None,     nullptr,   1, 2, 2, "单位地址", 50,  " AND (DAdd LIKE '%", SearchKeyPart::None},
    {17, 1, "单位电话：",     "EditD6",            "DPho",    50,  CardLookup::None,     nullptr,   2, 0, 1, "单位电话", 50,  " AND (DPho LIKE '%", SearchKeyPart::Phone},
    {18, 1, "传        真：", "EditD7",            "DFax",    50,  CardLookup::None,     nullptr,   2, 1, 1, "单位传真", 50,  " AND (DFax LIKE '%", SearchKeyPart::Phone},
    {19, 1, "邮政编码：",     "EditD8",            "DPos",    10,  CardLookup::None,     nullptr,   2, 2, 1, "邮政编码", 50,  " AND (DPos LIKE '%", SearchKeyPart::None},
    {20, 1, "单位网站：",     "EditD9",            "DWWW",    50,  CardLookup::None,     nullptr,   2, 3, 1, "单位网站", 50,  " AND (DWWW LIKE '%", SearchKeyPart::None},
    {21, 2, "家庭地址：",     "EditF1",            "FAdd",    50,  CardLookup::None,     nullptr,   0, 0, 2, "家庭地址", 50,  " AND (FAdd LIKE '%", SearchKeyPart::None},
    {22, 2, "家庭电话：",     "EditF2",            "FPho",    50,  CardLookup::None,     nullptr,   0, 2, 1, "家庭电话", 50,  " AND (FPho LIKE '%", SearchKeyPart::Phone},
    {23, 2, "家属姓名：",     "EditF3",            "FPro",    20,  CardLookup::None,     nullptr,   0, 3, 1, "家属姓名", 20,  " AND (FPro LIKE '%", SearchKeyPart::None},
    {24, 2, "补充信息：",     "EditF4",            "FDes",    200, CardLookup::None,     nullptr,   1, 0, 4, "补充信息", 200, " AND (FDes LIKE '%", SearchKeyPart::None},
}};

constexpr bool numberedInOrder()
{
    for (int i = 0; i < kCardFieldCount; ++i)
        if (kFields[static_cast<size_t>(i)].number != i + 1)
            return false;
    return true;
}
static_assert(numberedInOrder(), "the field table runs 1..24 in order");

} // namespace

std::span<const CardField, kCardFieldCount> cardFields()
{
    return kFields;
}

} // namespace ostrel

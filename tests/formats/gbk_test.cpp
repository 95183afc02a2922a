#include "formats/gbk.h"

#include "qt_print.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(Gbk, CountsAsciiOneAndChineseTwo)
{
    const struct {
        const char* text;
        int bytes;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"张三", 4},
        {"QQ号码", 6},
        {"，。！", 6},   // full-width punctuation is in GBK
        {"😀", 4},       // outside GBK: its GB18030 length
    };
    for (const auto& c : cases)
        EXPECT_EQ(gbkLength(QString::fromUtf8(c.text)), c.bytes) << c.text;
}

TEST(Gbk, CutsWithoutSplittingACharacter)
{
    const struct {
        const char* text;
        int limit;
        const char* cut;
    } cases[] = {
        {"abcdef", 4, "abcd"},
        {"张三李四", 4, "张三"},
        {"张三李四", 5, "张三"},      // the third character would need bytes 5 and 6
        {"a张三", 4, "a张"},
        {"a张三", 5, "a张三"},
        {"短", 20, "短"},
        {"abc", 0, ""},
        {"中华人民共和国万岁万岁万岁", 20, "中华人民共和国万岁万"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gbkCut(QString::fromUtf8(c.text), c.limit), QString::fromUtf8(c.cut)) << c.text << " " << c.limit;
}

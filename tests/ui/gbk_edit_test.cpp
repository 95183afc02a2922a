#include "ui/common/gbk_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "ui_helpers.h"
#include "qt_print.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(GbkEdit, TypingAndPastingStopAtTheByteLimit)
{
    const struct {
        int limit;
        const char* before;
        const char* typed;  // typed key by key
        const char* pasted; // then pasted at the end
        const char* after;
    } cases[] = {
        {20, "", "张三", "", "张三"},
        {4, "", "张三李", "", "张三"},
        {5, "", "abc张三", "", "abc张"},
        {5, "ab", "", "张三李四", "ab张"},
        {10, "", "", "中华人民共和国", "中华人民共"},
        {10, "", "", "a中华人民共和国", "a中华人民"},
        {3, "", "", "O'Brien", "O'B"},
        {10, "abc", "", "", "abc"},
    };
    for (const auto& c : cases) {
        GbkEdit edit(c.limit);
        edit.setText(QString::fromUtf8(c.before));
        edit.end(false);
        test::typeText(&edit, QString::fromUtf8(c.typed));
        if (*c.pasted) {
            QApplication::clipboard()->setText(QString::fromUtf8(c.pasted));
            edit.paste();
        }
        EXPECT_EQ(edit.text(), QString::fromUtf8(c.after)) << c.limit << " " << c.typed << c.pasted;
    }
}

TEST(GbkEdit, PasteInTheMiddleKeepsTheEnd)
{
    GbkEdit edit(8);
    edit.setText(QStringLiteral("张三"));
    edit.setCursorPosition(1);
    QApplication::clipboard()->setText(QStringLiteral("李四王五"));
    edit.paste();
    EXPECT_EQ(edit.text(), QStringLiteral("张李四三"));
    EXPECT_EQ(edit.cursorPosition(), 3);
}

TEST(GbkEdit, TooLongProgramTextCanStillBeShortened)
{
    GbkEdit edit(4);
    edit.setText(QStringLiteral("张三李四"));
    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("张三李"));
    test::typeText(&edit, QStringLiteral("x"));
    EXPECT_EQ(edit.text(), QStringLiteral("张三李"));
}

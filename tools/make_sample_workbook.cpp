// Build step: writes the sample workbook "名片导入实例.xlsx" beside the program: sheet
// "Sheet1" with the import's 24 titles (from the card field table, in its order) and two
// example cards. It holds no user data, so every build writes it anew.
#include "core/card_fields.h"

#include <xlsxwriter.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

// One value per card field, in field-table order.
constexpr const char* kExamples[2][ostrel::kCardFieldCount] = {
    {"客户", "张伟", "男", "010-62345678", "13800138000", "zhangwei@example.com", "12345678",
     "zhangwei@example.net", "zhangwei2010", "重要客户，每季度回访一次", "北京", "北京",
     "北京恒信科技有限公司", "销售部", "销售经理", "北京市海淀区中关村大街1号", "010-62345600",
     "010-62345601", "100080", "www.example.com", "北京市朝阳区幸福小区3号楼", "010-85551234", "李娜",
     "喜欢喝茶"},
    {"朋友", "王芳", "女", "021-55556666", "13912345678", "wangfang@example.com", "87654321", "",
     "wangfang", "大学同学", "上海", "上海", "上海明远贸易有限公司", "市场部", "市场专员",
     "上海市浦东新区世纪大道100号", "021-55556600", "", "200120", "www.example.org",
     "上海市徐汇区漕溪路88号", "021-64441234", "刘强", ""},
};

bool write(const QByteArray& path)
{
    lxw_workbook* book = workbook_new(path.constData());
    if (!book)
        return false;
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Sheet1");
    lxw_format* title = workbook_add_format(book);
    format_set_bold(title);
    // Telephone numbers, QQ numbers and postal codes stay text, leading zeros and all.
    lxw_format* text = workbook_add_format(book);
    format_set_num_format(text, "@");
    worksheet_set_column(sheet, 0, ostrel::kCardFieldCount - 1, 14, text);
    worksheet_freeze_panes(sheet, 1, 0);
    for (const ostrel::CardField& field : ostrel::cardFields()) {
        const auto column = static_cast<lxw_col_t>(field.number - 1);
        worksheet_write_string(sheet, 0, column, field.importTitle, title);
        for (int row = 0; row < 2; ++row) {
            const char* value = kExamples[row][field.number - 1];
            if (*value)
                worksheet_write_string(sheet, static_cast<lxw_row_t>(row + 1), column, value, text);
        }
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s 名片导入实例.xlsx\n", argv[0]);
        return 2;
    }
    // Written under another name and renamed, so a failed build leaves no broken sample.
    const QString target = QString::fromLocal8Bit(argv[1]);
    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!write(QFile::encodeName(partial))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        QFile::remove(partial);
        return 1;
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

#include "app/command_line.h"

#include "app/app_info.h"
#include "app/console.h"
#include "app/server_commands.h"
#include "app/sync_commands.h"
#include "core/card_fields.h"
#include "core/scan/card_reader.h"
#include "core/scan/card_sides.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace ostrel {

namespace {

QString helpText()
{
    return QStringLiteral(
        "用法：ostrel [命令]\n"
        "不带命令时打开名片管理窗口。\n\n"
        "  --scan 文件…                   识别名片图像（JPEG、PNG、BMP、TIFF、WebP），每张名片输出一行 JSON：\n"
        "                                 名片字段（以数据库列名为键）、每个字段的识别可信度（0–100）和识别出的原文；\n"
        "                                 文件后跟 --back 背面文件 时，背面识别出的内容补入这张名片：正面空着的字段取背面的，\n"
        "                                 与正面不同的写入补充信息\n"
        "  --init-server \"<连接文本>\"     在空的 PostgreSQL 数据库中建立名片数据库的表\n"
        "  --copy-to-server \"<连接文本>\"  把程序文件夹中的 Data/db.edb 复制到团队数据库\n"
        "  --sync-setup 网址 用户名       设置与 CardDAV 通讯录服务器（手机通讯录）的同步：检查服务器，选用账户的第一个通讯录，\n"
        "                                 没有时新建通讯录“名片”；密码取自环境变量 OSTREL_SYNC_PASSWORD，否则在终端输入，\n"
        "                                 只保存在名片数据库中\n"
        "  --sync                         按保存的设置与通讯录同步一次，输出上传、下载、删除和冲突的张数\n"
        "  --help                         显示本说明\n"
        "  --version                      显示版本");
}

QJsonObject cardJson(const ScannedCard& card, const QString& file, int page, const QString& back)
{
    QJsonObject object;
    QJsonObject confidence;
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("page"), page);
    if (!back.isEmpty())
        object.insert(QStringLiteral("back"), back);
    const auto fields = cardFields();
    for (int i = 0; i < kCardFieldCount; ++i) {
        const QString column = fields[size_t(i)].columnName();
        object.insert(column, card.values[size_t(i)]);
        confidence.insert(column, card.confidence[size_t(i)]);
    }
    object.insert(QStringLiteral("confidence"), confidence);
    object.insert(QStringLiteral("rawText"), card.rawText);
    return object;
}

// A file of cards, and the back side of its first card when "--back FILE" follows it.
struct CardFile {
    QString file;
    QString back;
};

std::optional<std::vector<CardFile>> cardFiles(const QStringList& arguments)
{
    std::vector<CardFile> files;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != QStringLiteral("--back")) {
            files.push_back({arguments[i], {}});
            continue;
        }
        if (files.empty() || !files.back().back.isEmpty() || i + 1 == arguments.size())
            return std::nullopt;
        files.back().back = arguments[++i];
    }
    if (files.empty())
        return std::nullopt;
    return files;
}

// What the back side in file reads; nothing for a back with a logo alone.
ScannedCard backSide(CardReader& reader, const QString& file)
{
    const CardPages pages(file);
    try {
        return reader.readCard(pages.page(0));
    } catch (const ScanError& e) {
        if (!e.foundNoText())
            throw;
        return {};
    }
}

int scan(const QStringList& arguments)
{
    const std::optional<std::vector<CardFile>> files = cardFiles(arguments);
    if (!files) {
        printLine(QStringLiteral("用法：ostrel --scan 图像文件 [--back 背面图像文件]…"), stderr);
        return 2;
    }
    std::unique_ptr<CardReader> reader;
    try {
        reader = std::make_unique<CardReader>();
    } catch (const ScanError& e) {
        printLine(e.message(), stderr);
        return 3;
    }
    int failed = 0;
    for (const CardFile& file : *files) {
        try {
            std::vector<ScannedCard> cards = reader->readFile(file.file);
            if (!file.back.isEmpty() && !cards.empty())
                cards.front() = withBackSide(cards.front(), backSide(*reader, file.back));
            int page = 1;
            for (const ScannedCard& card : cards) {
                const QJsonObject json = cardJson(card, file.file, page, page == 1 ? file.back : QString());
                printLine(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
                ++page;
            }
        } catch (const ScanError& e) {
            printLine(QStringLiteral("%1：%2").arg(file.back.isEmpty() ? file.file : file.file + QStringLiteral(" + ") + file.back,
                                                 e.message()),
                      stderr);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}

} // namespace

std::optional<int> runCommandLine(int argc, char** argv)
{
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (command == QStringLiteral("--help") || command == QStringLiteral("-h")) {
        printLine(helpText());
        return 0;
    }
    if (command == QStringLiteral("--version")) {
        printLine(QStringLiteral("%1 %2").arg(QString::fromUtf8(kAppTitle), QLatin1String(kAppVersion)));
        return 0;
    }
    if (const auto code = runServerCommand(argc, argv))
        return code;
    if (const auto code = runSyncCommand(argc, argv))
        return code;
    // Before the recogniser's library reads its settings: both the window and --scan read cards.
    restartWithOneOcrThread(argv);
    if (command != QStringLiteral("--scan"))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QStringList files;
    for (int i = 2; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    return scan(files);
}

} // namespace ostrel

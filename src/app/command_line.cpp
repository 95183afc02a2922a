#include "app/command_line.h"

#include "app/app_info.h"
#include "app/console.h"
#include "app/server_commands.h"
#include "app/sync_commands.h"
#include "core/card_fields.h"
#include "core/scan/card_reader.h"

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
        "                                 名片字段（以数据库列名为键）、每个字段的识别可信度（0–100）和识别出的原文\n"
        "  --init-server \"<连接文本>\"     在空的 PostgreSQL 数据库中建立名片数据库的表\n"
        "  --copy-to-server \"<连接文本>\"  把程序文件夹中的 Data/db.edb 复制到团队数据库\n"
        "  --sync-setup 网址 用户名       设置与 CardDAV 通讯录服务器（手机通讯录）的同步：检查服务器，选用账户的第一个通讯录，\n"
        "                                 没有时新建通讯录“名片”；密码取自环境变量 OSTREL_SYNC_PASSWORD，否则在终端输入，\n"
        "                                 只保存在名片数据库中\n"
        "  --sync                         按保存的设置与通讯录同步一次，输出上传、下载、删除和冲突的张数\n"
        "  --help                         显示本说明\n"
        "  --version                      显示版本");
}

QJsonObject cardJson(const ScannedCard& card, const QString& file, int page)
{
    QJsonObject object;
    QJsonObject confidence;
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("page"), page);
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

int scan(const QStringList& files)
{
    if (files.isEmpty()) {
        printLine(QStringLiteral("用法：ostrel --scan 图像文件…"), stderr);
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
    for (const QString& file : files) {
        try {
            int page = 1;
            for (const ScannedCard& card : reader->readFile(file))
                printLine(QString::fromUtf8(QJsonDocument(cardJson(card, file, page++)).toJson(QJsonDocument::Compact)));
        } catch (const ScanError& e) {
            printLine(QStringLiteral("%1：%2").arg(file, e.message()), stderr);
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

#include "server_commands.h"

#include "app/application.h"
#include "app/console.h"
#include "core/open_database.h"
#include "core/server_setup.h"
#include "engine/engine_error.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace ostrel {

void openOnTerminal(OpenedCardDatabase& opened)
{
    if (!opened.fileCommands || opened.fileCommands->openWithPassword())
        return;
    const QString password = readHiddenLine(QStringLiteral("名片数据库设置了密码，请输入密码："));
    if (!opened.fileCommands->openWithPassword(password))
        throw EngineError(QStringLiteral("密码不对，名片数据库没有打开。"));
}

namespace {

int copy(TeamServerSetup& server)
{
    OpenedCardDatabase file = openCardFile(cardConnectionString(programDir()));
    openOnTerminal(file);
    printLine(QStringLiteral("正在把 %1 复制到团队数据库 %2 …")
            .arg(QDir::toNativeSeparators(file.database->displayName()), server.displayName()));
    QString shown;
    const CopyCounts counts = server.copyFrom(*file.database, [&](const QString& table, int64_t done, int64_t total) {
        const QString line = QStringLiteral("  %1：%2 / %3").arg(table).arg(done).arg(total);
        if (line != shown)
            printLine(shown = line);
    });
    printLine(QStringLiteral("复制完成：名片 %1 张，拜访记录 %2 条，纪念日 %3 条，设置 %4 行。")
            .arg(counts.cards)
            .arg(counts.visits)
            .arg(counts.anniversaries)
            .arg(counts.settings));
    return 0;
}

} // namespace

std::optional<int> runServerCommand(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const bool init = command == QStringLiteral("--init-server");
    if (!init && command != QStringLiteral("--copy-to-server"))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        printLine(QStringLiteral("用法：ostrel %1 \"<PostgreSQL 连接 URI 或 key=value 文本>\"").arg(command), stderr);
        return 2;
    }
    try {
        TeamServerSetup server(QString::fromLocal8Bit(argv[2]));
        if (!init)
            return copy(server);
        printLine(QStringLiteral("正在团队数据库 %1 中建立名片数据库的表…").arg(server.displayName()));
        server.createTables();
        printLine(QStringLiteral("完成：已建立名片数据库的表、索引和初始数据。"));
        return 0;
    } catch (const EngineError& e) {
        printLine(e.message(), stderr);
        return 1;
    }
}

} // namespace ostrel

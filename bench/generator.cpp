#include "generator.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "core/open_database.h"

#include <sqlcipher/sqlite3.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace ostrel::bench {

namespace {

const QStringList kSurnames = QString::fromUtf8("王 李 张 刘 陈 杨 黄 赵 吴 周 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 宋 唐 许 韩 冯 邓 曹 彭 曾 肖 田 董 袁 潘 于 蒋 蔡 欧阳 司马").split(u' ');
const QString kGiven = QString::fromUtf8("伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀霞平刚桂英华玉兰萍红建国志文辉斌婷雪琳晨");
const QStringList kCities = QString::fromUtf8("北京 上海 广州 深圳 杭州 南京 成都 武汉 西安 苏州 天津 重庆 长沙 青岛 厦门").split(u' ');
const QStringList kWords = QString::fromUtf8("华远 东方 新星 宏达 恒通 金桥 天成 瑞丰 博雅 信诚 中兴 海川").split(u' ');
const QStringList kTrades = QString::fromUtf8("科技 贸易 实业 电子 物流 咨询").split(u' ');
const QStringList kParts = QString::fromUtf8("销售部 财务部 技术部 市场部 行政部 采购部").split(u' ');
const QStringList kJobs = QString::fromUtf8("经理 主管 工程师 总监 专员 总经理").split(u' ');
const QStringList kKinds = QString::fromUtf8("电话 上门 吃饭 娱乐 其它").split(u' ');
const QStringList kMemos = QString::fromUtf8("洽谈新年订单 回访售后情况 介绍新产品 商量合同细节 请客吃饭联络感情 讨论付款安排").split(u' ');
const QStringList kDays = QString::fromUtf8("生日 结婚纪念日 公司成立日 孩子生日").split(u' ');

class Filler {
public:
    explicit Filler(unsigned seed) : m_random(seed) {}
    int number(int below) { return std::uniform_int_distribution<int>(0, below - 1)(m_random); }
    const QString& pick(const QStringList& list) { return list[number(static_cast<int>(list.size()))]; }
    QString digits(int count)
    {
        QString text;
        for (int i = 0; i < count; ++i)
            text += QChar(u'0' + number(10));
        return text;
    }
    QString name()
    {
        QString name = pick(kSurnames);
        for (int i = 0, n = 1 + number(2); i < n; ++i)
            name += kGiven[number(static_cast<int>(kGiven.size()))];
        return name;
    }
    QString date(int yearsBack)
    {
        return QDate(2026, 12, 9).addDays(-number(365 * yearsBack)).toString(QStringLiteral("yyyy-MM-dd"));
    }

private:
    std::mt19937 m_random;
};

class Insert {
public:
    Insert(sqlite3* db, const char* sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw EngineError(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    ~Insert() { sqlite3_finalize(m_stmt); }
    Insert& bind(int index, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Insert& bind(int index, int value)
    {
        sqlite3_bind_int(m_stmt, index, value);
        return *this;
    }
    void run()
    {
        if (sqlite3_step(m_stmt) != SQLITE_DONE)
            throw EngineError(QString::fromUtf8(sqlite3_errmsg(m_db)));
        sqlite3_reset(m_stmt);
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

QStringList seeded(sqlite3* db, const char* sql)
{
    QStringList values;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return values;
}

// Raised whenever generateDatabase writes other rows for the same workload, so that cached
// files of the old rows are not taken for new ones.
constexpr int kGeneratorVersion = 1;

QByteArray schemaText()
{
    QFile schema(QStringLiteral(OSTREL_SCHEMA_SQL));
    if (!schema.open(QIODevice::ReadOnly))
        throw EngineError(QStringLiteral("cannot read the schema"));
    return schema.readAll();
}

QString cacheFolder()
{
    const QString chosen = qEnvironmentVariable("OSTREL_BENCH_CACHE");
    if (!chosen.isEmpty())
        return chosen;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/ostrel-bench");
}

} // namespace

QString cachedDatabase(const Workload& workload)
{
    const QString schemaHash = QString::fromLatin1(
        QCryptographicHash::hash(schemaText(), QCryptographicHash::Sha1).toHex().left(8));
    const QString path = QStringLiteral("%1/cards%2-visits%3-anniversaries%4-seed%5-gen%6-schema%7.edb")
                             .arg(cacheFolder())
                             .arg(workload.cards)
                             .arg(workload.visits)
                             .arg(workload.anniversaries)
                             .arg(workload.seed)
                             .arg(kGeneratorVersion)
                             .arg(schemaHash);
    if (QFile::exists(path))
        return path;
    // Written under a name of this process's own and renamed when whole: a benchmark stopped
    // halfway, or another one generating the same workload, never leaves a partial file
    // under the cached name.
    const QString partial = path + QStringLiteral(".partial-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(cacheFolder());
    QFile::remove(partial);
    std::fprintf(stderr, "generating %d cards into %s\n", workload.cards, qPrintable(path));
    generateDatabase(partial, workload);
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        if (!QFile::exists(path))
            throw EngineError(QStringLiteral("cannot write %1").arg(path));
    }
    return path;
}

QString makeProgramFolder(const QTemporaryDir& folder, const Workload& workload)
{
    if (!folder.isValid())
        throw EngineError(QStringLiteral("no temporary folder for the benchmark"));
    const QString target = folder.path() + QStringLiteral("/Data/db.edb");
    QDir().mkpath(folder.path() + QStringLiteral("/Data"));
    if (!QFile::copy(cachedDatabase(workload), target))
        throw EngineError(QStringLiteral("cannot copy the cached database to %1").arg(target));
    // The copy takes the cached file's permissions; the program must be able to write it.
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return folder.path() + u'/';
}

std::vector<int> cardCounts(int argc, char** argv)
{
    if (argc > 1)
        return {std::atoi(argv[1])};
    return {10000, 100000};
}

void generateDatabase(const QString& path, const Workload& workload)
{
    if (!deliverDatabase(path, QString::fromLatin1(kDatabasePassword), QString::fromUtf8(schemaText())))
        throw EngineError(QStringLiteral("%1 exists already").arg(path));
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    keyAndConfigure(db, QString::fromLatin1(kDatabasePassword));
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const QStringList types = seeded(db, "select theName from D_Type");
    const QStringList provinces = seeded(db, "select theName from D_P");
    Filler f(workload.seed);
    {
        Insert card(db, "insert into D_B(theDate,theType,BName,BSex,BPho,BMob,BMail,BQQ,BMSN,BWW,BDes,DArea,DCity,"
                        "DName,DPart,DJob,DAdd,DPho,DFax,DPos,DWWW,FAdd,FPho,FPro,FDes,theDel) values "
                        "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        for (int i = 0; i < workload.cards; ++i) {
            const QString city = f.pick(kCities);
            const QString company = city + f.pick(kWords) + f.pick(kTrades) + QStringLiteral("有限公司");
            const QString qq = QString::number(10000 + f.number(900000000));
            const QString mail = QStringLiteral("user%1@example.com").arg(i);
            const QString phone = QStringLiteral("0%1-%2").arg(10 + f.number(89)).arg(f.digits(8));
            const QString mobile = QStringLiteral("1%1%2").arg(QChar(u"358"[f.number(3)])).arg(f.digits(9));
            const QString address = city + QStringLiteral("市") + f.pick(kWords) + QStringLiteral("路%1号").arg(1 + f.number(300));
            card.bind(1, f.date(10)).bind(2, f.pick(types)).bind(3, f.name()).bind(4, f.number(2) ? QStringLiteral("男") : QStringLiteral("女"))
                .bind(5, phone).bind(6, mobile).bind(7, mail).bind(8, qq).bind(9, mail).bind(10, QStringLiteral("ww_%1").arg(i))
                .bind(11, QStringLiteral("老朋友介绍的客户")).bind(12, f.pick(provinces)).bind(13, city).bind(14, company)
                .bind(15, f.pick(kParts)).bind(16, f.pick(kJobs)).bind(17, address).bind(18, phone).bind(19, phone)
                .bind(20, f.digits(6)).bind(21, QStringLiteral("www.example.com")).bind(22, address).bind(23, phone)
                .bind(24, f.name()).bind(25, QString()).bind(26, f.number(100) < 3 ? QStringLiteral("是") : QStringLiteral("否"));
            card.run();
        }
    }
    {
        Insert visit(db, "insert into DList(DID,LDate,LType,LMemo) values(?,?,?,?)");
        for (int i = 0; i < workload.visits; ++i) {
            visit.bind(1, 1 + f.number(workload.cards)).bind(2, f.date(5)).bind(3, f.pick(kKinds)).bind(4, f.pick(kMemos));
            visit.run();
        }
        Insert day(db, "insert into DJNR(DID,JDate,JMemo) values(?,?,?)");
        for (int i = 0; i < workload.anniversaries; ++i) {
            day.bind(1, 1 + f.number(workload.cards)).bind(2, f.date(50)).bind(3, f.pick(kDays));
            day.run();
        }
    }
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw EngineError(QStringLiteral("cannot commit the generated rows"));
}

} // namespace ostrel::bench

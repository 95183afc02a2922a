#include "engine/engine_error.h"

#include <sqlcipher/sqlite3.h>

namespace ostrel {

QString engineFailureText(int code, const QString& engineText)
{
    const char* advice = nullptr;
    if (code == kServerUnreachable)
        advice = "无法连接团队数据库服务器。请检查 Data/server.conf 中的连接设置、网络，以及服务器是否在运行，然后再试。";
    else if (code == kServerConnectionLost)
        advice = "与团队数据库服务器的连接已断开，本次操作没有完成。请检查网络和服务器是否在运行，然后再做一次，"
                 "程序会自动重新连接。";
    if (advice)
        return QString::fromUtf8(advice) + u'\n' + engineText;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        advice = "数据库正被另一个程序使用，本次操作没有完成。请稍后再试；若一直如此，请关闭其他打开该数据库的程序。";
        break;
    case SQLITE_FULL:
        advice = "磁盘已满，本次修改没有保存。请腾出磁盘空间后再试。";
        break;
    case SQLITE_READONLY:
        advice = "数据库文件或它所在的 Data 文件夹是只读的，不能保存修改。请检查文件和文件夹的写入权限。";
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        advice = "无法打开数据库文件。请确认程序文件夹下的 Data/db.edb 存在，并且可以读写。";
        break;
    case SQLITE_NOTADB:
        advice = "这个文件不是本程序的数据库，或者密码不对。";
        break;
    case SQLITE_CORRUPT:
        advice = "数据库文件已损坏。请用“恢复数据…”从备份恢复。";
        break;
    case SQLITE_IOERR:
        advice = "读写磁盘时出错，本次操作没有完成。请检查磁盘后再试。";
        break;
    default:
        return engineText;
    }
    return QString::fromUtf8(advice) + u'\n' + engineText;
}

} // namespace ostrel

#include "report_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace ostrel {

namespace {

// The caption as a file name: characters no file name may hold become "_".
QString sheetFileName(const QString& caption)
{
    QString name;
    for (QChar ch : caption)
        name += (ch.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|").contains(ch)) ? QChar(u'_') : ch;
    name = name.trimmed().left(80);
    while (name.endsWith(u'.'))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("报表") : name;
}

QString& reportFolderOverride()
{
    static QString folder;
    return folder;
}

} // namespace

QString reportFolder()
{
    if (!reportFolderOverride().isEmpty())
        return reportFolderOverride();
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    const QString folder = QDir(documents).filePath(QString::fromUtf8(kReportFolderName));
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

void setReportFolder(const QString& folder)
{
    reportFolderOverride() = folder;
}

QString reserveReportFile(const QString& folder, const QString& caption)
{
    const QString stem = QDir(folder).filePath(sheetFileName(caption) + u'_'
                                               + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int n = 1; n < 10000; ++n) {
        const QString path = stem + (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".xlsx");
        if (QFileInfo::exists(path))
            continue;
        QFile file(path);
        // A report holds every exported card: readable by the user alone.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return path;
        if (!QFileInfo::exists(path))
            break;
    }
    return {};
}

} // namespace ostrel

#pragma once
#include "app_fixture.h"
#include "export/spreadsheet_app.h"
#include "engine/query.h"
#include "written_book.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace ostrel::test {

// Files handed to the desktop to open, in order.
inline QStringList openedFiles()
{
    QStringList paths;
    for (const testhooks::Shown& s : testhooks::shown())
        if (s.kind == testhooks::Shown::File)
            paths << s.text;
    return paths;
}

inline QStringList shownOf(testhooks::Shown::Kind kind)
{
    QStringList texts;
    for (const testhooks::Shown& s : testhooks::shown())
        if (s.kind == kind)
            texts << s.text;
    return texts;
}

// The report folder (and the temporary one) replaced by a fresh one of the test's own,
// so the workbooks written can be found and counted.
class OwnTempFolder {
public:
    OwnTempFolder() : m_oldTmp(qgetenv("TMPDIR"))
    {
        if (!m_tmp.isValid() || !QDir::isAbsolutePath(m_tmp.path()))
            qFatal("no temporary folder for the test");
        qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
        setReportFolder(m_tmp.path());
    }
    ~OwnTempFolder()
    {
        setReportFolder({});
        if (m_oldTmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_oldTmp);
    }
    OwnTempFolder(const OwnTempFolder&) = delete;
    OwnTempFolder& operator=(const OwnTempFolder&) = delete;

    QString path() const { return m_tmp.path(); }
    // Workbooks in the folder, by name.
    QStringList workbooks() const
    {
        return QDir(m_tmp.path()).entryList({QStringLiteral("*.xlsx")}, QDir::Files, QDir::Name);
    }
    // Makes the report folder a file, where nothing can be written.
    void block()
    {
        const QString blocker = m_tmp.path() + QStringLiteral("/not-a-folder");
        QFile file(blocker);
        if (file.open(QIODevice::WriteOnly))
            file.close();
        setReportFolder(blocker);
    }

private:
    QTemporaryDir m_tmp;
    QByteArray m_oldTmp;
};

// A started program with a temporary folder of its own.
class ExportFixture : public AppFixture {
protected:
    QString tmpFolder() const { return m_tmp.path(); }
    QStringList workbooks() const { return m_tmp.workbooks(); }
    void blockTempFolder() { m_tmp.block(); }
    static QStringList openedFiles() { return test::openedFiles(); }
    static QStringList shownOf(testhooks::Shown::Kind kind) { return test::shownOf(kind); }

    void addVisit(int card, const QString& date, const QString& memo, const QString& kind = QStringLiteral("电话"))
    {
        exec(QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'%2','%3','%4')")
                 .arg(card)
                 .arg(sqlQuote(date), sqlQuote(kind), sqlQuote(memo)));
    }
    void addAnniversary(int card, const QString& date, const QString& memo)
    {
        exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'%2','%3')")
                 .arg(card)
                 .arg(sqlQuote(date), sqlQuote(memo)));
    }
    // Shows exactly these card fields (column name, stored width), in this order.
    void displayOnly(const QList<std::pair<QString, int>>& fields)
    {
        exec(QStringLiteral("update D_XS set theXS=0"));
        int position = 1;
        for (const auto& [name, width] : fields)
            exec(QStringLiteral("update D_XS set theXS=1, theWidth=%1, theInt=%2 where theName='%3'")
                     .arg(width)
                     .arg(position++)
                     .arg(name));
        exec(QStringLiteral("update D_XS set theInt=theInt+100 where theXS=0"));
    }

    static void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

private:
    OwnTempFolder m_tmp;
};

} // namespace ostrel::test

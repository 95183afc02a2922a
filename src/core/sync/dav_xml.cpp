#include "core/sync/dav_xml.h"

#include <QXmlStreamReader>

namespace ostrel::sync {

namespace {

// Where the reader stands inside one response.
struct ResponseReader {
    DavResponse response;
    QHash<QString, QString> props; // of the propstat being read
    QHash<QString, QStringList> children;
    int propstatStatus = 0;
};

void readProperty(QXmlStreamReader& xml, ResponseReader& at)
{
    const QString name = xml.name().toString();
    QString text;
    QString href;
    QStringList inner;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            inner << xml.name().toString();
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (!inner.isEmpty() && inner.last() == QLatin1String("href") && href.isEmpty())
                href = xml.text().toString().trimmed();
            text += xml.text();
            break;
        default:
            break;
        }
    }
    at.props.insert(name, href.isEmpty() ? text.trimmed() : href);
    at.children.insert(name, inner);
}

void readPropstat(QXmlStreamReader& xml, ResponseReader& at)
{
    at.props.clear();
    at.children.clear();
    at.propstatStatus = 0;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("prop")) {
            while (xml.readNextStartElement())
                readProperty(xml, at);
        } else if (xml.name() == QLatin1String("status")) {
            at.propstatStatus = statusOfLine(xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (at.propstatStatus >= 200 && at.propstatStatus < 300) {
        at.response.props.insert(at.props);
        at.response.children.insert(at.children);
    }
}

DavResponse readResponse(QXmlStreamReader& xml)
{
    ResponseReader at;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("href"))
            at.response.href = xml.readElementText().trimmed();
        else if (xml.name() == QLatin1String("status"))
            at.response.status = statusOfLine(xml.readElementText());
        else if (xml.name() == QLatin1String("propstat"))
            readPropstat(xml, at);
        else
            xml.skipCurrentElement();
    }
    return at.response;
}

} // namespace

int statusOfLine(const QString& line)
{
    const QStringList words = line.simplified().split(u' ');
    return words.size() >= 2 ? words[1].toInt() : 0;
}

bool parseMultiStatus(const QByteArray& body, MultiStatus& out, QString& error)
{
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("multistatus")) {
        error = xml.hasError() ? xml.errorString() : QStringLiteral("没有 multistatus");
        return false;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("response"))
            out.responses.push_back(readResponse(xml));
        else if (xml.name() == QLatin1String("sync-token"))
            out.syncToken = xml.readElementText().trimmed();
        else
            xml.skipCurrentElement();
    }
    if (xml.hasError()) {
        error = xml.errorString();
        return false;
    }
    return true;
}

QString xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped();
}

} // namespace ostrel::sync

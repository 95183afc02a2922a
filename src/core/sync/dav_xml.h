#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel::sync {

// One <response> of a WebDAV multistatus answer.
struct DavResponse {
    QString href;    // as the server wrote it, percent-encoding kept
    int status = 0;  // the response's own status (a member removed since a sync token), 0 when absent
    // Properties of the propstats that answered 2xx, by local name: their text with blanks
    // trimmed (an href-valued property gives its href).
    QHash<QString, QString> props;
    // Local names of the elements inside each property (resourcetype's "addressbook",
    // supported-report-set's "sync-collection").
    QHash<QString, QStringList> children;

    QString prop(const char* name) const { return props.value(QString::fromLatin1(name)); }
    bool has(const char* property, const char* child) const
    {
        return children.value(QString::fromLatin1(property)).contains(QString::fromLatin1(child));
    }
};

struct MultiStatus {
    std::vector<DavResponse> responses;
    QString syncToken; // the sync-collection answer's new token
};

// Reads a multistatus body. Returns false (and says why in error) for text that is not XML or
// holds no multistatus: what a server that is not a WebDAV server answers.
bool parseMultiStatus(const QByteArray& body, MultiStatus& out, QString& error);

// The status code of "HTTP/1.1 404 Not Found"; 0 when unreadable.
int statusOfLine(const QString& line);

// XML text escaped for an element's content.
QString xmlEscaped(const QString& text);

} // namespace ostrel::sync

#pragma once
#include <QList>
#include <QPair>
#include <QString>

namespace ostrel {

// A parsed "key=value;key=value" text. Keys compare without regard to case; values may
// stand in double quotes ("" is the empty value).
class ConnectionString {
public:
    explicit ConnectionString(const QString& text = {});
    QString value(const QString& key) const;
    bool contains(const QString& key) const;
    const QList<QPair<QString, QString>>& pairs() const { return m_pairs; }

private:
    QList<QPair<QString, QString>> m_pairs;
};

inline constexpr char kDataSourceKey[] = "Data Source";
inline constexpr char kPasswordKey[] = "Jet OLEDB:Database Password";

} // namespace ostrel

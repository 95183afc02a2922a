#include "engine/connection_string.h"

namespace ostrel {

ConnectionString::ConnectionString(const QString& text)
{
    int i = 0;
    const int n = text.size();
    while (i < n) {
        const int eq = text.indexOf(u'=', i);
        if (eq < 0)
            break;
        const QString key = text.mid(i, eq - i).trimmed();
        i = eq + 1;
        QString value;
        if (i < n && text[i] == u'"') {
            // Quoted value: runs to the next quote; a doubled quote stands for one.
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        value += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            const int semi = text.indexOf(u';', i);
            i = semi < 0 ? n : semi + 1;
        } else {
            const int semi = text.indexOf(u';', i);
            const int end = semi < 0 ? n : semi;
            value = text.mid(i, end - i);
            i = end + 1;
        }
        if (!key.isEmpty())
            m_pairs.append({key, value});
    }
}

QString ConnectionString::value(const QString& key) const
{
    for (const auto& [k, v] : m_pairs)
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

bool ConnectionString::contains(const QString& key) const
{
    for (const auto& pair : m_pairs)
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace ostrel

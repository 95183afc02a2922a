#include "formats/gbk.h"

#include <iconv.h>

#include <QByteArray>
#include <cerrno>

namespace ostrel {

namespace {

// GB18030 is GBK plus four-byte codes for the rest of Unicode: GBK characters keep their
// one and two bytes, and every other character still has a length.
class Gb18030Counter {
public:
    Gb18030Counter() : m_cd(iconv_open("GB18030", "UTF-8")) {}
    ~Gb18030Counter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Gb18030Counter(const Gb18030Counter&) = delete;
    Gb18030Counter& operator=(const Gb18030Counter&) = delete;

    int bytes(const QByteArray& utf8)
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            return static_cast<int>(utf8.size());
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(utf8.constData());
        size_t inLeft = static_cast<size_t>(utf8.size());
        int total = 0;
        char buffer[1024];
        while (inLeft > 0) {
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &in, &inLeft, &out, &outLeft);
            total += static_cast<int>(sizeof buffer - outLeft);
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                // An ill-formed sequence (a lone surrogate): count it as one unknown
                // two-byte character and go on.
                total += 2;
                ++in;
                --inLeft;
            }
        }
        return total;
    }

private:
    iconv_t m_cd;
};

int charBytes(Gb18030Counter& counter, QStringView ch)
{
    if (ch.size() == 1 && ch[0].unicode() < 0x80)
        return 1;
    return counter.bytes(ch.toUtf8());
}

thread_local Gb18030Counter counter;

} // namespace

int gbkLength(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    return ascii ? static_cast<int>(text.size()) : counter.bytes(text.toUtf8());
}

QString gbkCut(const QString& text, int maxBytes)
{
    if (maxBytes <= 0)
        return {};
    if (gbkLength(text) <= maxBytes)
        return text;
    int used = 0;
    int i = 0;
    while (i < text.size()) {
        const int width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int bytes = charBytes(counter, QStringView(text).mid(i, width));
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += width;
    }
    return text.left(i);
}

} // namespace ostrel

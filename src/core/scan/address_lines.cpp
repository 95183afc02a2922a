#include "core/scan/address_lines.h"

#include "core/scan/scan_text.h"

#include <QRegularExpression>

namespace ostrel::scan {

AddressParts splitPostcode(const QString& text)
{
    static const QRegularExpression tail(QStringLiteral("[\\s(]*(\\d{6})\\)?$"));
    const auto m = tail.match(text);
    if (!m.hasMatch())
        return {text, {}};
    return {text.left(m.capturedStart()), m.captured(1)};
}

bool isAddress(const QString& text)
{
    static const QRegularExpression han(
        QStringLiteral("(省|市|区|县|镇|路|街|道|巷|弄|号|楼|室|层|大厦|广场|园区|大道)"));
    static const QRegularExpression latin(
        QStringLiteral("\\b(Road|Rd\\.?|Street|St\\.|Avenue|Ave\\.?|Floor|Building|Room|District|Province|"
                       "Tower|Plaza|Park|Lane)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    if (hanCount(text) >= 5)
        return han.globalMatch(text).hasNext() && [&] {
            int n = 0;
            auto it = han.globalMatch(text);
            while (it.hasNext()) {
                it.next();
                ++n;
            }
            return n >= 2;
        }();
    return latin.match(text).hasMatch() && text.contains(QRegularExpression(QStringLiteral("\\d")));
}

} // namespace ostrel::scan

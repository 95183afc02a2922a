// Any bytes as a vCard file: cards or a status, nothing else; and every card read writes
// back as text that reads as the same card.
#include "core/card_vcard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ostrel::VCardLists lists{{QStringLiteral("客户"), QStringLiteral("朋友")}, {QStringLiteral("广东"), QStringLiteral("北京")},
                                   QStringLiteral("客户")};
    const ostrel::VCardFile file = ostrel::readVCards(QByteArrayView(data, static_cast<qsizetype>(size)), lists);
    for (const ostrel::CardValues& card : file.cards) {
        // Values near the reader's cap may not survive their escapes; no card field comes close.
        if (std::any_of(card.begin(), card.end(), [](const QString& v) { return v.size() > 1000; }))
            continue;
        QByteArray text;
        ostrel::writeVCard(card, text);
        const ostrel::VCardFile again = ostrel::readVCards(text, lists);
        if (again.cards.size() != 1 || again.cards.front() != card)
            std::abort();
    }
    return 0;
}

#include "core/duplicates/packed_sources.h"

#include <QStringList>

namespace ostrel {

namespace {

constexpr size_t kBlock = size_t{4} << 20;
// Between two texts of a card, and between its personal and its work phones; a text that
// holds one has it written as a blank.
constexpr char kText = '\x1f';
constexpr char kPart = '\x1e';

std::string_view utf8(const QString& text, std::string& buffer)
{
    buffer = text.toStdString();
    return buffer;
}

} // namespace

PackedSources::PackedSources(const std::vector<DuplicateSource>& cards)
{
    std::string name, company, mail;
    std::vector<std::string> texts;
    for (const DuplicateSource& card : cards) {
        texts.clear();
        for (const QString& phone : card.personalPhones)
            texts.push_back(phone.toStdString());
        const size_t personal = texts.size();
        for (const QString& phone : card.workPhones)
            texts.push_back(phone.toStdString());
        const std::vector<std::string_view> all(texts.begin(), texts.end());
        add(card.id, utf8(card.name, name), utf8(card.company, company), utf8(card.mail, mail),
            {all.begin(), all.begin() + static_cast<std::ptrdiff_t>(personal)}, {all.begin() + static_cast<std::ptrdiff_t>(personal), all.end()});
    }
}

void PackedSources::append(std::string_view text)
{
    for (char c : text)
        m_card += (c == kText || c == kPart) ? ' ' : c;
}

void PackedSources::add(int64_t id, std::string_view name, std::string_view company, std::string_view mail,
                        const std::vector<std::string_view>& personalPhones, const std::vector<std::string_view>& workPhones)
{
    m_card.clear();
    append(name);
    m_card += kText;
    append(company);
    m_card += kText;
    append(mail);
    for (std::string_view phone : personalPhones)
        if (!phone.empty()) {
            m_card += kText;
            append(phone);
        }
    m_card += kPart;
    for (std::string_view phone : workPhones)
        if (!phone.empty()) {
            m_card += kText;
            append(phone);
        }
    if (m_blocks.empty() || m_blocks.back().size() + m_card.size() > kBlock) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(kBlock, m_card.size()));
    }
    m_ids.push_back(id);
    m_where.push_back((uint64_t{m_blocks.size() - 1} << 32) | m_blocks.back().size());
    m_blocks.back() += m_card;
}

DuplicateSource PackedSources::card(size_t card) const
{
    const size_t block = m_where[card] >> 32, start = m_where[card] & 0xffffffffu;
    const std::string& text = m_blocks[block];
    const size_t end = card + 1 < m_where.size() && (m_where[card + 1] >> 32) == block ? (m_where[card + 1] & 0xffffffffu) : text.size();
    const QString all = QString::fromUtf8(text.data() + start, static_cast<qsizetype>(end - start));
    const qsizetype part = all.indexOf(QLatin1Char(kPart));
    const QStringList texts = all.left(part).split(QLatin1Char(kText));
    DuplicateSource source{m_ids[card], texts.value(0), texts.value(1), texts.value(2), {}, {}};
    source.personalPhones.assign(texts.begin() + std::min<qsizetype>(3, texts.size()), texts.end());
    const QString work = all.mid(part + 1);
    if (!work.isEmpty()) {
        const QStringList phones = work.mid(1).split(QLatin1Char(kText));
        source.workPhones.assign(phones.begin(), phones.end());
    }
    return source;
}

std::vector<DuplicateSource> PackedSources::slice(size_t first, size_t count) const
{
    std::vector<DuplicateSource> cards;
    for (size_t i = first; i < std::min(size(), first + count); ++i)
        cards.push_back(card(i));
    return cards;
}

} // namespace ostrel

#include "core/scan/field_extractor.h"

#include "core/pinyin.h"
#include "core/scan/address_lines.h"
#include "core/scan/card_labels.h"
#include "core/scan/card_words.h"
#include "core/scan/mail_mending.h"
#include "core/scan/name_mending.h"
#include "core/scan/scan_text.h"

#include <QRegularExpression>

#include <algorithm>

namespace ostrel {

using scan::LabelKind;
using scan::Segment;

int cardFieldIndex(const char* column)
{
    const auto fields = cardFields();
    for (int i = 0; i < kCardFieldCount; ++i)
        if (qstrcmp(fields[size_t(i)].column, column) == 0)
            return i;
    return -1;
}

QString ScannedCard::value(const char* column) const
{
    const int i = cardFieldIndex(column);
    return i < 0 ? QString() : values[size_t(i)];
}

int ScannedCard::confidenceOf(const char* column) const
{
    const int i = cardFieldIndex(column);
    return i < 0 ? 0 : confidence[size_t(i)];
}

namespace {

// A line that may be the card's name or company; the choice waits until every line is seen.
struct Candidate {
    QString text;
    double confidence;
    int height;
    bool han;
    std::vector<QStringList> choices = {}; // per character, when the recogniser weighed others
};

// The characters weighed at each place of a name, when the line's choices hold its characters
// in order (marks before the name are skipped).
std::vector<QStringList> choicesOf(const QString& name, const RecognisedLine* line)
{
    std::vector<QStringList> out;
    if (!line)
        return out;
    for (const auto& c : line->choices)
        if (out.size() < size_t(name.size()) && c.value(0) == QString(name[qsizetype(out.size())]))
            out.push_back(c);
    return out.size() == size_t(name.size()) ? out : std::vector<QStringList>{};
}

class Extractor {
public:
    ScannedCard run(const RecognisedLines& lines);

private:
    void labelled(const Segment& s, double conf);
    void unlabelled(const QString& text, const Segment& s, double conf);
    bool asNumbers(const QString& text, double conf, LabelKind label);
    bool asPersonParts(const QString& text, const Segment& s, double conf);
    void chooseName();
    void chooseCompany();
    void mendMailByWebSite();
    void mendMailByCompany();
    void mendMailByName();
    void agreeWebAndMail();
    bool set(const char* column, const QString& value, double conf);
    bool setAddress(const QString& address, double conf);
    void extra(const QString& text, double conf);

    ScannedCard card_;
    QStringList mobiles_;
    double mobileConfidence_ = 100;
    QStringList extras_;
    double extraConfidence_ = 100;
    std::vector<Candidate> names_;
    std::vector<Candidate> companies_;
};

bool Extractor::set(const char* column, const QString& value, double conf)
{
    const auto i = size_t(cardFieldIndex(column));
    const QString kept = scan::withoutStrays(value);
    if (kept.isEmpty() || !card_.values[i].isEmpty())
        return false;
    card_.values[i] = kept;
    card_.confidence[i] = std::clamp(int(conf + 0.5), 1, 100);
    return true;
}

// An address mended from what the recogniser is known to misread there is marked for checking.
bool Extractor::setAddress(const QString& address, double conf)
{
    const QString mended = scan::mendedAddress(address.trimmed());
    return set("DAdd", mended, mended == address.trimmed() ? conf : std::min(conf, kLowScanConfidence - 1.0));
}

void Extractor::extra(const QString& text, double conf)
{
    if (text.trimmed().isEmpty())
        return;
    extras_ << text.trimmed();
    extraConfidence_ = std::min(extraConfidence_, conf);
}

// Numbers of a telephone-like text: mobiles gather in 移动电话, a fixed line goes to the
// field its label names (单位电话 when it has none), more of them to 补充信息.
bool Extractor::asNumbers(const QString& text, double conf, LabelKind label)
{
    const QStringList numbers = scan::phoneNumbers(text);
    if (numbers.isEmpty())
        return false;
    for (const auto& n : numbers) {
        if (scan::isMobile(n) && label != LabelKind::Fax) {
            if (!mobiles_.contains(n))
                mobiles_ << n;
            mobileConfidence_ = std::min(mobileConfidence_, conf);
            continue;
        }
        const bool placed = label == LabelKind::Fax     ? set("DFax", n, conf)
                            : label == LabelKind::Direct ? set("BPho", n, conf)
                            : label == LabelKind::Mobile ? false
                                                         : set("DPho", n, conf) || set("BPho", n, conf * 0.8);
        if (!placed)
            extra(label == LabelKind::Fax ? QStringLiteral("传真：") + n : n, conf);
    }
    return true;
}

void Extractor::labelled(const Segment& s, double conf)
{
    const QString& t = s.text;
    switch (s.label) {
    case LabelKind::Mobile:
    case LabelKind::Phone:
    case LabelKind::Direct:
    case LabelKind::Fax:
        if (!asNumbers(t, conf, s.label))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    case LabelKind::Mail: {
        QString mail = scan::mailAddress(QString(t).remove(QLatin1Char(' ')));
        if (!set("BMail", mail.isEmpty() ? t : mail, mail.isEmpty() ? conf * 0.6 : conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    }
    case LabelKind::Web: {
        const QString web = scan::webAddress(QString(t).remove(QLatin1Char(' ')));
        if (!set("DWWW", web.isEmpty() ? t : web, web.isEmpty() ? conf * 0.6 : conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    }
    case LabelKind::Address: {
        const scan::AddressParts parts = scan::splitPostcode(t);
        const QString address = !parts.postcode.isEmpty() && set("DPos", parts.postcode, conf) ? parts.address : t;
        if (!setAddress(address, conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    }
    case LabelKind::Postcode: {
        const QString code = scan::postcodeIn(t);
        if (!set("DPos", code.isEmpty() ? t : code, code.isEmpty() ? conf * 0.6 : conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    }
    case LabelKind::QQ:
        if (!set("BQQ", QString(t).remove(QLatin1Char(' ')), conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    case LabelKind::MSN:
        if (!set("BMSN", t, conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    case LabelKind::WangWang:
        if (!set("BWW", t, conf))
            extra(s.labelText + QStringLiteral("：") + t, conf);
        return;
    case LabelKind::WeChat: // no field of its own: kept with its label, as the vCard import does
        extra(QStringLiteral("微信：") + t, conf);
        return;
    case LabelKind::None:
        unlabelled(t, s, conf);
        return;
    }
}

// A name, a title, or both on one line ("张伟 总经理", "销售部 经理"); false when the text is
// none of these.
bool Extractor::asPersonParts(const QString& text, const Segment& s, double conf)
{
    const int height = s.line ? s.line->box.height() : 0;
    const int hans = scan::hanCount(text);
    const bool allHan = hans == text.size();
    const int title = scan::titleSuffixLength(text);
    if (allHan && title > 0 && title < text.size()) {
        if (const int head = scan::nameBeforeTitle(text); head > 0) {
            names_.push_back({text.left(head), conf, height, true});
            set("DJob", text.mid(head), conf) || (extra(text.mid(head), conf), true);
            return true;
        }
    }
    static const QRegularExpression deptTitle(QStringLiteral("^(\\p{Han}{1,10}?(?:部|处|科|中心))\\s*(\\p{Han}{2,8})$"));
    if (const auto m = deptTitle.match(text); m.hasMatch() && scan::hasTitleWord(m.captured(2))) {
        if (!set("DPart", m.captured(1), conf))
            extra(m.captured(1), conf);
        if (!set("DJob", m.captured(2), conf))
            extra(m.captured(2), conf);
        return true;
    }
    if (scan::hasTitleWord(text) && (hans > 0 ? text.size() <= 14 : text.size() <= 48)) {
        // A Chinese title wins over its English translation on a bilingual card.
        if (hans == 0 && !card_.value("DJob").isEmpty())
            extra(text, conf);
        else if (!set("DJob", text, conf))
            extra(text, conf);
        return true;
    }
    // Marks read out of a logo beside the name ("(_) 李子涵") are no part of it.
    // So is a character read out of a logo and parted from the name by a bar ("人 | 陈志强").
    static const QRegularExpression marks(QStringLiteral("^(?:[^\\p{L}\\p{N}]+|\\p{Han}?\\s*[|丨]+)\\s*(?=\\p{Han})"));
    const QString bare = QString(text).remove(marks).remove(QLatin1Char(' '));
    if (scan::hanCount(bare) == bare.size() && bare.size() >= 2 && bare.size() <= 4) {
        const bool surname = scan::surnameLength(bare) > 0 && !scan::isTitlePrefix(bare);
        names_.push_back({bare, surname ? conf : conf * 0.6, height, true, choicesOf(bare, s.line)});
        return true;
    }
    static const QRegularExpression latinName(QStringLiteral("^[A-Z][a-z]+(?:[ -][A-Z][a-z]*\\.?){1,2}$"));
    if (hans == 0 && latinName.match(text).hasMatch()) {
        names_.push_back({text, conf * 0.8, height, false});
        return true;
    }
    return false;
}

void Extractor::unlabelled(const QString& line, const Segment& s, double conf)
{
    // A label too misread to be known ("工:" for "T:") before a number.
    static const QRegularExpression unknownLabel(QStringLiteral("^(?:[^\\d\\s:：;；]{1,2}\\s*)?[:：;；]\\s*(?=[+\\d(])"));
    const QString text = QString(line).remove(unknownLabel);
    if (text.isEmpty())
        return;
    if (const QString mail = scan::mailAddress(text); !mail.isEmpty()) {
        if (!set("BMail", mail, conf))
            extra(mail, conf);
        extra(QString(text).remove(mail).remove(QRegularExpression(QStringLiteral("^[\\s:：]*(E-?mail|邮箱)?[\\s:：]*$"),
                                                                   QRegularExpression::CaseInsensitiveOption)),
              conf);
        return;
    }
    if (scan::isPhoneText(text)) {
        asNumbers(text, conf, LabelKind::None);
        return;
    }
    static const QRegularExpression sixDigits(QStringLiteral("^\\d{6}$"));
    if (sixDigits.match(text).hasMatch()) {
        if (!set("DPos", text, conf * 0.9))
            extra(text, conf);
        return;
    }
    if (const QString web = scan::webAddress(text); !web.isEmpty() && scan::hanCount(text) == 0
        && scan::companyEnd(text) < 0) {
        if (!set("DWWW", web, conf))
            extra(text, conf);
        return;
    }
    // A web address at the end of a line of Chinese: two columns read as one line (the name
    // on the left, the web address on the right).
    static const QRegularExpression trailingWeb(QStringLiteral("\\s(?:https?://)?www\\.[A-Za-z0-9.-]+$"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (const auto m = trailingWeb.match(text); m.hasMatch() && scan::hanCount(text.left(m.capturedStart())) > 0) {
        unlabelled(text.mid(m.capturedStart()).trimmed(), s, conf);
        unlabelled(text.left(m.capturedStart()).trimmed(), s, conf);
        return;
    }
    if (scan::isAddress(text) && scan::companyEnd(text) < 0) {
        const scan::AddressParts parts = scan::splitPostcode(text);
        const QString address = !parts.postcode.isEmpty() && set("DPos", parts.postcode, conf * 0.9) ? parts.address : text;
        // The Chinese address wins over its English translation.
        if (scan::hanCount(address) == 0 && !card_.value("DAdd").isEmpty())
            extra(address, conf);
        else if (!setAddress(address, conf * 0.9))
            extra(address, conf);
        return;
    }
    if (const int end = scan::companyEnd(text); end > 0) {
        const QString company = text.left(end).trimmed();
        companies_.push_back({company, conf, s.line ? s.line->box.height() : 0, scan::hanCount(text) > 0,
                              choicesOf(company, s.line)});
        unlabelled(text.mid(end).trimmed(), s, conf);
        return;
    }
    if (scan::isDepartment(text)) {
        if (!set("DPart", text, conf * 0.9))
            extra(text, conf);
        return;
    }
    if (!asPersonParts(text, s, conf))
        extra(text, conf);
}

void Extractor::chooseName()
{
    QStringList latinNames;
    for (const auto& c : names_)
        if (!c.han)
            latinNames << c.text;
    const std::vector<QStringList> words = scan::latinNameWords(card_.value("BMail"), latinNames);
    const QStringList spelled = scan::spelledNames(words);
    for (auto& c : names_) {
        if (!c.han)
            continue;
        c.text = scan::spelledChoice(c.text, c.choices, spelled);
        // A mark of the logo beside the name read as a character before it.
        if (c.text.size() >= 3 && !scan::spelledAs(c.text, spelled) && scan::spelledAs(c.text.mid(1), spelled))
            c.text = c.text.mid(1);
        if (scan::spelledAs(c.text, spelled))
            continue;
        if (const QString mended = scan::spelledRepair(c.text, c.choices, words); !mended.isEmpty()) {
            c.text = mended;
            c.confidence = std::min(c.confidence, kLowScanConfidence - 1.0);
        }
    }
    // The person's name stands in the largest type; a Chinese name wins over its spelling, and
    // one the card spells in Latin letters over one it does not.
    const auto rank = [&](const Candidate& c) {
        return std::tuple(c.han, c.han && scan::spelledAs(c.text, spelled), c.confidence >= 50, c.height);
    };
    auto best = std::max_element(names_.begin(), names_.end(),
                                 [&](const Candidate& a, const Candidate& b) { return rank(a) < rank(b); });
    // A Chinese card whose name was read as nothing like a name (no surname, no spelling the
    // card's Latin letters agree with), or not at all: the name those letters spell, marked
    // for the user to check. What was read stays in 补充信息.
    const bool chineseCard = std::any_of(companies_.begin(), companies_.end(), [](const Candidate& c) { return c.han; })
                             || scan::hanCount(card_.value("DAdd")) > 0;
    if (chineseCard && (best == names_.end() || !std::get<1>(rank(*best)))
        && (best == names_.end() || !best->han || scan::surnameLength(best->text) == 0)) {
        if (const QString guess = scan::spelledGuess(words); !guess.isEmpty()) {
            const double confidence = best == names_.end() ? kLowScanConfidence - 1.0 : std::min(best->confidence, kLowScanConfidence - 1.0);
            names_.push_back({guess, confidence, 0, true});
            best = names_.end() - 1;
        }
    }
    for (auto it = names_.begin(); it != names_.end(); ++it)
        if (it == best)
            set("BName", it->text, it->confidence);
        else
            extra(it->text, it->confidence);
}

// The mailbox name mended by the person's name it spells ("xia.gaoc" for 高霞 is "xia.gao",
// "zhigiang" for 志强 is "zhiqiang"): a letter the recogniser added before the @, g read for q.
void Extractor::mendMailByName()
{
    const QString mail = card_.value("BMail");
    const qsizetype at = mail.indexOf(QLatin1Char('@'));
    const QString name = card_.value("BName");
    if (at <= 0 || name.isEmpty() || scan::hanCount(name) != name.size())
        return;
    const QStringList spellings = nameSpellings(name).full;
    const auto spelled = [&](const QString& word) {
        return std::any_of(spellings.begin(), spellings.end(), [&](const QString& s) { return s.contains(word); });
    };
    const int family = std::max(1, scan::surnameLength(name));
    const QStringList parts[] = {nameSpellings(name.left(family)).full, nameSpellings(name.mid(family)).full};
    QStringList words = mail.left(at).split(QLatin1Char('.'));
    bool changed = false;
    // The dot between the name's two parts read as a hyphen ("yong-yang" for 杨勇).
    if (const QStringList halves = mail.left(at).split(QLatin1Char('-')); words.size() == 1 && halves.size() == 2
        && ((parts[0].contains(halves[0]) && parts[1].contains(halves[1])) || (parts[1].contains(halves[0]) && parts[0].contains(halves[1])))) {
        words = halves;
        changed = true;
    }
    // With two words, one spelling a part of the name in full, a letter after the other
    // part's spelling is the recogniser's ("gang.xieg" for 谢刚), not an initial.
    const auto letterAdded = [&](const QString& w, const QString& other) {
        return w.size() > 2 && w.back().isLetter()
               && ((parts[0].contains(other) && parts[1].contains(w.chopped(1)))
                   || (parts[1].contains(other) && parts[0].contains(w.chopped(1))));
    };
    for (auto& w : words) {
        const QString chopped = w.chopped(1);
        if (words.size() == 2 && letterAdded(w, words[&w == &words[0] ? 1 : 0])) {
            w = chopped;
            changed = true;
            continue;
        }
        if (w.isEmpty() || spelled(w))
            continue;
        QString mended;
        if (w.size() > 2 && (w.endsWith(QLatin1Char('q')) || w.endsWith(QLatin1Char('c'))) && spelled(chopped))
            mended = chopped;
        for (qsizetype g = w.indexOf(QLatin1Char('g')); mended.isEmpty() && g >= 0; g = w.indexOf(QLatin1Char('g'), g + 1))
            if (QString q = QString(w).replace(g, 1, QLatin1Char('q')); spelled(q))
                mended = q;
        if (mended.isEmpty())
            continue;
        w = mended;
        changed = true;
    }
    if (changed) {
        const int i = cardFieldIndex("BMail");
        card_.values[size_t(i)] = words.join(QLatin1Char('.')) + mail.mid(at);
        card_.confidence[size_t(i)] = std::min(card_.confidence[size_t(i)], kLowScanConfidence - 1);
    }
}

// How well a company line matches the e-mail's or the web site's domain: its pinyin
// initials or full spelling, or its English words, inside the domain.
int domainMatch(const QString& company, const QString& domain)
{
    if (domain.isEmpty())
        return 0;
    const NameSpellings spellings = nameSpellings(company);
    int best = 0;
    for (const auto& list : {spellings.full, spellings.initials})
        for (const auto& s : list)
            for (int len = std::min<int>(int(s.size()), 12); len >= 3; --len)
                if (domain.contains(s.left(len))) {
                    best = std::max(best, len);
                    break;
                }
    return best;
}

QString domainOf(const ScannedCard& card)
{
    QString mail = card.value("BMail");
    QString domain = mail.mid(mail.indexOf(QLatin1Char('@')) + 1);
    if (mail.isEmpty())
        domain = card.value("DWWW");
    domain = domain.toLower().remove(QRegularExpression(QStringLiteral("^(https?://)?(www\\.)?")));
    return domain.left(domain.indexOf(QLatin1Char('.')));
}

// An e-mail read without its @ mended by the web site's domain, which it nearly always shares.
void Extractor::mendMailByWebSite()
{
    const QString mail = card_.value("BMail");
    QString domain = card_.value("DWWW");
    domain.remove(QRegularExpression(QStringLiteral("^(https?://)?(www\\.)?")));
    const QString mended = scan::mailAtDomain(mail, domain.section(QLatin1Char('/'), 0, 0));
    if (!mended.isEmpty()) {
        const int i = cardFieldIndex("BMail");
        card_.values[size_t(i)] = mended;
        card_.confidence[size_t(i)] = std::min(card_.confidence[size_t(i)], kLowScanConfidence - 1);
    }
}

// Without a web site, the company's name in pinyin tells where the domain starts.
void Extractor::mendMailByCompany()
{
    const QString mail = card_.value("BMail");
    const QString company = card_.value("DName");
    if (mail.isEmpty() || company.isEmpty() || mail.contains(QLatin1Char('@')))
        return;
    const QString mended = scan::mailAtDomain(mail, scan::mailDomainFromCompany(mail, nameSpellings(company).full));
    if (!mended.isEmpty()) {
        const int i = cardFieldIndex("BMail");
        card_.values[size_t(i)] = mended;
        card_.confidence[size_t(i)] = std::min(card_.confidence[size_t(i)], kLowScanConfidence - 1);
    }
}

// The web address and the e-mail's domain nearly always agree: where they differ by a letter
// or two, the one the company's name spells wins over the misreading, which spells nothing.
void Extractor::agreeWebAndMail()
{
    const QString mail = card_.value("BMail");
    const QString web = card_.value("DWWW");
    const qsizetype at = mail.indexOf(QLatin1Char('@'));
    static const QRegularExpression prefix(QStringLiteral("^(https?://)?(www\\.)?"));
    const QString webHost = QString(web).remove(prefix).section(QLatin1Char('/'), 0, 0);
    const QString mailHost = mail.mid(at + 1);
    if (at <= 0 || webHost.isEmpty() || webHost == mailHost || scan::editDistance(webHost, mailHost) > 2)
        return;
    const NameSpellings company = nameSpellings(card_.value("DName"));
    const auto spelled = [&](const QString& host) {
        const QString name = host.section(QLatin1Char('.'), 0, 0);
        const auto holds = [&](const QStringList& list) {
            return std::any_of(list.begin(), list.end(), [&](const QString& s) { return s.contains(name); });
        };
        return name.size() >= 3 && (holds(company.full) || holds(company.initials));
    };
    const bool webSpelled = spelled(webHost), mailSpelled = spelled(mailHost);
    if (webSpelled == mailSpelled)
        return;
    const int i = cardFieldIndex(webSpelled ? "BMail" : "DWWW");
    card_.values[size_t(i)] = webSpelled ? mail.left(at + 1) + webHost
                                         : web.left(web.indexOf(webHost)) + mailHost + web.mid(web.indexOf(webHost) + webHost.size());
    card_.confidence[size_t(i)] = std::min(card_.confidence[size_t(i)], kLowScanConfidence - 1);
}

// A company read with a wrong character mended from the characters the recogniser weighed,
// when one of them makes the name spell the e-mail's or web site's domain (云疏 → 云帆 for
// yunfan.com): one character at a time, Chinese characters only.
QString domainChoice(const Candidate& company, const QString& domain)
{
    const auto spells = [&](const QString& text) {
        const QStringList full = nameSpellings(text).full;
        return std::any_of(full.begin(), full.end(), [&](const QString& s) { return s.contains(domain); });
    };
    if (domain.size() < 4 || company.choices.size() != size_t(company.text.size()) || spells(company.text))
        return company.text;
    for (size_t i = 0; i < company.choices.size(); ++i)
        for (const auto& other : company.choices[i].mid(1)) {
            if (other.size() != 1 || !scan::isHan(other[0]))
                continue;
            QString text = company.text;
            text[qsizetype(i)] = other[0];
            if (spells(text))
                return text;
        }
    return company.text;
}

void Extractor::chooseCompany()
{
    const QString domain = domainOf(card_);
    for (auto& c : companies_)
        if (c.han)
            c.text = domainChoice(c, domain);
    auto best = std::max_element(companies_.begin(), companies_.end(), [&](const Candidate& a, const Candidate& b) {
        const auto rank = [&](const Candidate& c) { return std::tuple(c.han, domainMatch(c.text, domain), c.height); };
        return rank(a) < rank(b);
    });
    for (auto it = companies_.begin(); it != companies_.end(); ++it)
        if (it == best)
            set("DName", it->text, it->confidence);
        else
            extra(it->text, it->confidence);
}

ScannedCard Extractor::run(const RecognisedLines& lines)
{
    QStringList raw;
    QString pendingLabel;
    for (const auto& line : lines) {
        raw << line.text;
        const QString text = scan::mended(scan::normalised(pendingLabel + line.text));
        std::vector<Segment> segments = scan::segmentsOf(text, &line);
        pendingLabel.clear();
        // A label that ends its line names the number the next line starts with (a postcode
        // wrapped), or the address the next line holds.
        static const QRegularExpression number(QStringLiteral("^[\\s:：;；]*[+\\d(]"));
        const auto continues = [&](const Segment& label) {
            const QString next = (&line + 1)->text;
            return number.match(next).hasMatch()
                   || (label.label == LabelKind::Address && scan::isAddress(scan::normalised(next)));
        };
        if (&line != &lines.back() && !segments.empty() && segments.back().label != LabelKind::None
            && segments.back().text.isEmpty() && continues(segments.back())) {
            pendingLabel = segments.back().labelText + QStringLiteral("：");
            segments.pop_back();
        }
        for (const auto& segment : segments)
            labelled(segment, line.confidence);
    }
    // The e-mail is mended before the name is chosen: its mailbox name spells the name.
    mendMailByWebSite();
    chooseCompany();
    mendMailByCompany();
    chooseName();
    scan::chooseMailReading(card_, lines);
    mendMailByName();
    agreeWebAndMail();
    set("BMob", mobiles_.join(QStringLiteral("，")), mobileConfidence_);
    set("FDes", extras_.join(QStringLiteral("；")), extraConfidence_);
    card_.rawText = raw.join(QLatin1Char('\n'));
    return card_;
}

} // namespace

ScannedCard extractCardFields(const RecognisedLines& lines)
{
    return Extractor().run(lines);
}

} // namespace ostrel

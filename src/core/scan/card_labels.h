#pragma once
#include "core/scan/recognised_text.h"

#include <QString>

#include <vector>

// The labels printed before a card's values (电话：, Tel:, 传真, E-mail, …) and the cutting of
// a line into the pieces they introduce.
namespace ostrel::scan {

enum class LabelKind { None, Mobile, Phone, Direct, Fax, Mail, Web, Address, Postcode, QQ, WeChat, MSN, WangWang };

// A piece of a line: the text after one label up to the next (or a line's text before its
// first label, with LabelKind::None).
struct Segment {
    QString text;
    LabelKind label = LabelKind::None;
    QString labelText; // the label as printed, without its colon
    const RecognisedLine* line = nullptr;
};

std::vector<Segment> segmentsOf(const QString& text, const RecognisedLine* line);

} // namespace ostrel::scan

#pragma once
#include <QString>

namespace ostrel {

// Byte length of a text in the Chinese code page (GBK): an ASCII character counts one, a
// Chinese character two. A character outside GBK counts as its GB18030 length.
int gbkLength(const QString& text);

// The longest start of text that fits in maxBytes, never splitting a character.
QString gbkCut(const QString& text, int maxBytes);

} // namespace ostrel
